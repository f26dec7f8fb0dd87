#include "monitor/link_health.h"

#include "platform/timings.h"

#include <algorithm>

namespace kelta::monitor {

qint64 secondsToNextAttempt(const LinkHealth& h, const QDateTime& now) {
    if (h.state != LinkHealth::State::Reconnecting || !h.nextAttempt.isValid()) return 0;
    const qint64 ms = std::max<qint64>(0, now.msecsTo(h.nextAttempt));
    return (ms + 999) / 1000;
}

QString linkStateText(const LinkHealth& h, const QDateTime& now) {
    switch (h.state) {
    case LinkHealth::State::Open:
        return QStringLiteral("open");
    case LinkHealth::State::Connecting:
        return QStringLiteral("connecting");
    case LinkHealth::State::Reconnecting:
        return QStringLiteral("reconnecting in %1 s").arg(secondsToNextAttempt(h, now));
    case LinkHealth::State::Lost:
        return QStringLiteral("lost");
    case LinkHealth::State::PortInUse:
        return QStringLiteral("port in use");
    }
    return {};
}

qint64 silentMs(const LinkHealth& h, const QDateTime& now) {
    const QDateTime& from = h.lastReport.isValid() ? h.lastReport : h.since;
    return from.isValid() ? std::max<qint64>(0, from.msecsTo(now)) : 0;
}

bool linkSilent(const LinkHealth& h, const QDateTime& now) {
    // A port that could not be had never receives; it is not "silent".
    if (h.state == LinkHealth::State::PortInUse) return false;
    return silentMs(h, now) > static_cast<qint64>(timing::scaled(timing::kWatchdogMs));
}

QString reportAgeText(const LinkHealth& h, const QDateTime& now) {
    if (!h.lastReport.isValid()) return QStringLiteral("-");
    return QStringLiteral("%1 s").arg(std::max<qint64>(0, h.lastReport.msecsTo(now)) / 1000);
}

QString linkHealthTable(const std::vector<LinkHealth>& links, const QDateTime& now) {
    if (links.empty()) return QStringLiteral("(no links)\n");
    std::vector<QStringList> rows;
    rows.push_back({QStringLiteral("Link"), QStringLiteral("Readers"), QStringLiteral("State"),
                    QStringLiteral("Records"), QStringLiteral("Per s"), QStringLiteral("Rejected"),
                    QStringLiteral("Discarded"), QStringLiteral("Last report")});
    for (const LinkHealth& h : links) {
        QString age = reportAgeText(h, now);
        if (linkSilent(h, now)) age += QStringLiteral(" silent");
        rows.push_back(
            {h.name,
             h.readerIds.isEmpty() ? QStringLiteral("-") : h.readerIds.join(QLatin1Char(',')),
             linkStateText(h, now), QString::number(h.records),
             QString::number(h.recordsPerSecond()), QString::number(h.framesRejected),
             QString::number(h.bytesDiscarded), age});
    }
    const qsizetype columns = rows.front().size();
    std::vector<qsizetype> width(static_cast<std::size_t>(columns), 0);
    for (const QStringList& r : rows)
        for (qsizetype c = 0; c < columns; ++c)
            width[static_cast<std::size_t>(c)] =
                std::max(width[static_cast<std::size_t>(c)], r[c].size());
    // Names, readers, states and ages to the left; the counts to the right.
    const auto numeric = [](qsizetype c) { return c >= 3 && c <= 6; };
    QString out;
    for (const QStringList& r : rows) {
        QString line;
        for (qsizetype c = 0; c < columns; ++c) {
            const int w = static_cast<int>(width[static_cast<std::size_t>(c)]);
            if (c > 0) line += QStringLiteral("  ");
            line += numeric(c) ? r[c].rightJustified(w) : r[c].leftJustified(w);
        }
        out += line.trimmed() + QLatin1Char('\n');
    }
    return out;
}

} // namespace kelta::monitor
