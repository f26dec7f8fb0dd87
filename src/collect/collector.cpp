#include "collect/collector.h"

#include "monitor/network_links.h"
#include "monitor/serial_links.h"
#include "platform/serial_device_map.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kelta::collect {

namespace {

// The pipe the signal handler writes into; -1 while no StopSignals exists.
int signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int signal) {
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(signal);
    // Nothing else is safe here; a full pipe already holds a stop.
    if (signalPipe[1] >= 0) (void)!::write(signalPipe[1], &b, 1);
    errno = saved;
}

QString serialName(int port) {
    return QStringLiteral("COM%1 (%2)").arg(port).arg(platform::devicePathFor(port));
}

} // namespace

StopSignals::StopSignals(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
    if (signalPipe[0] >= 0) return; // one at a time
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        unsigned char b = 0;
        while (::read(signalPipe[0], &b, 1) == 1)
            if (onSignal_) onSignal_(b);
    });
    struct sigaction sa {};
    sa.sa_handler = &onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGUSR1, &sa, nullptr);
}

StopSignals::~StopSignals() {
    if (!notifier_) return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGUSR1, SIG_DFL);
    notifier_.reset();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

QString summaryText(const CollectSummary& s) {
    QString t;
    QTextStream out(&t);
    out << "Summary: " << s.records << " records in " << s.seconds << " s\n";
    for (auto it = s.recordsPerReader.constBegin(); it != s.recordsPerReader.constEnd(); ++it)
        out << "  reader " << it.key() << ": " << it.value() << " records\n";
    out << "  reconnects: " << s.reconnects << "\n";
    out << "  bytes discarded: " << s.discardedBytes << "\n";
    if (!s.autoSaveFile.isEmpty()) {
        out << "  auto-save file: " << s.autoSaveFile << " (" << s.autoSaveLines << " lines";
        if (s.rotations > 0) out << ", " << s.rotations << " files rotated";
        out << ")\n";
    }
    if (s.publishing) {
        const publish::PublishCounters& c = s.published;
        out << "  MQTT " << s.broker << ": " << c.enqueued << " messages, " << c.acknowledged
            << " confirmed, " << (c.queued + c.inFlight) << " not sent, " << c.dropped
            << " dropped (queue full), " << c.rejected << " refused\n";
    }
    if (s.linksAt.isValid()) {
        out << "  links:\n";
        for (const QString& line : monitor::linkHealthTable(s.links, s.linksAt)
                                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            out << "    " << line << "\n";
    }
    return t;
}

Collector::Collector(QTextStream& err) : err_(err) {
    publishing_.setProgram(QStringLiteral("kelta-collect"));
    publishing_.setLinkHealthSource([this] { return engine_.linkHealth(); });
    publishing_.setMessageHandler(
        [this](publish::BrokerState, const QString& text) { note(text); });
}

Collector::~Collector() = default;

void Collector::note(const QString& text) {
    err_ << QDateTime::currentDateTime().toString(Qt::ISODateWithMs) << ' ' << text << '\n';
    err_.flush();
}

bool Collector::start(const monitor::RunConfig& config, const publish::PublishConfig& publishing,
                      const QStringList& publishProblems) {
    config_ = config;
    firstPassDone_ = false;
    started_ = QDateTime::currentDateTime();
    ended_ = {};
    linksFailed_ = false;
    publishingOn_ = publishing_.start(publishing, publishProblems);
    // Only the first status matters here ("monitoring started"): no timer wakes the collector.
    engine_.setStatusIntervalMs(0);
    engine_.prepareStore(config);
    return engine_.start(config);
}

int Collector::run(const monitor::RunConfig& config, const publish::PublishConfig& publishing,
                   const QStringList& publishProblems) {
    if (start(config, publishing, publishProblems) && engine_.running())
        QCoreApplication::exec();
    // Queued and unconfirmed messages get two seconds to reach a broker that is there.
    publishing_.stop(std::chrono::milliseconds(2000));
    QCoreApplication::processEvents(); // the publisher's last messages
    return linksFailed_ ? 1 : 0;
}

void Collector::stop() {
    engine_.stop();
}

void Collector::printLinks() {
    note(engine_.running() ? QStringLiteral("links:") : QStringLiteral("links (run ended):"));
    err_ << (engine_.running()
                 ? monitor::linkHealthTable(engine_.linkHealth(), QDateTime::currentDateTime())
                 : monitor::linkHealthTable(engine_.endedLinkHealth(),
                                            engine_.endedLinkHealthTime()));
    err_.flush();
}

void Collector::onSignal(int signal) {
    if (signal == SIGUSR1) {
        printLinks();
        return;
    }
    if (!running()) return;
    note(QStringLiteral("signal %1: stopping").arg(signal));
    // The run ends at once, its files complete; the event loop returns after it.
    stop();
}

void Collector::runEnded() {
    ended_ = QDateTime::currentDateTime();
    discardedBytes_ = engine_.serialLinks().purgedBytes() + engine_.networkLinks().discardedBytes();
    // Ports whose device went away and came back.
    for (int n = 1; n < monitor::RunConfig::kSlots; ++n)
        reconnects_ += static_cast<std::uint64_t>(engine_.serialLinks().reopenCount(n));
    QCoreApplication::quit();
}

CollectSummary Collector::summary() const {
    CollectSummary s;
    s.seconds = started_.secsTo(ended_.isValid() ? ended_ : QDateTime::currentDateTime());
    s.records = store_.acceptedRecordCount();
    s.recordsPerReader = perReader_;
    s.reconnects = reconnects_;
    s.discardedBytes = discardedBytes_;
    if (config_.autoSave) {
        s.autoSaveFile = store_.autoSavePath();
        s.autoSaveLines = store_.autoSaveLineCount();
        s.rotations = store_.rotationCount();
    }
    s.publishing = publishingOn_;
    s.broker = publishing_.brokerName();
    s.published = publishing_.counters();
    if (!engine_.running() && engine_.endedLinkHealthTime().isValid()) {
        s.links = engine_.endedLinkHealth();
        s.linksAt = engine_.endedLinkHealthTime();
    } else if (engine_.running()) {
        s.links = engine_.linkHealth();
        s.linksAt = QDateTime::currentDateTime();
    }
    return s;
}

QString Collector::rowAddress(int row) const {
    const QString host = row >= 1 && row < monitor::RunConfig::kSlots
                             ? config_.addresses[static_cast<std::size_t>(row)]
                             : QString();
    return host + QLatin1Char(':') + QString::number(config_.remotePort);
}

void Collector::passStarted(const QString&) {
    if (!firstPassDone_) firstPass();
}

void Collector::firstPass() {
    firstPassDone_ = true;
    note(QStringLiteral("monitoring started"));
    // What could not be opened is known once the links are open.
    if (config_.serial()) {
        for (int n = 1; n < monitor::RunConfig::kSlots; ++n)
            if (config_.serialPorts[static_cast<std::size_t>(n)] &&
                !engine_.serialLinks().isOpen(n))
                note(QStringLiteral("%1 could not be opened").arg(serialName(n)));
    }
}

void Collector::serialOpened(int port) {
    if (serialSeen_.contains(port)) {
        note(QStringLiteral("%1 opened again").arg(serialName(port)));
        return;
    }
    serialSeen_.insert(port);
    note(QStringLiteral("%1 opened").arg(serialName(port)));
}

void Collector::outgoingConnecting(int row) {
    note(QStringLiteral("connecting to %1").arg(rowAddress(row)));
}

void Collector::outgoingConnected(int row, const QString& address, quint16 port) {
    const QString peer = address + QLatin1Char(':') + QString::number(port);
    if (rowsSeen_.contains(row)) {
        ++reconnects_;
        note(QStringLiteral("reconnected to %1").arg(peer));
        return;
    }
    rowsSeen_.insert(row);
    note(QStringLiteral("connected to %1").arg(peer));
}

void Collector::outgoingLost(QTcpSocket* socket) {
    const int row = socket ? socket->property("tag").toInt() : 0;
    note(QStringLiteral("connection to %1 lost").arg(rowAddress(row)));
}

void Collector::outgoingError(QTcpSocket* socket) {
    if (!socket) return;
    note(QStringLiteral("connection to %1: %2")
             .arg(rowAddress(socket->property("tag").toInt()), socket->errorString()));
}

void Collector::listeningOpening(int port) {
    if (config_.listenAddress.trimmed().isEmpty())
        note(QStringLiteral("listening on port %1").arg(port));
    else
        note(QStringLiteral("listening on %1 port %2")
                 .arg(config_.listenAddress.trimmed())
                 .arg(port));
}

void Collector::readerAccepted(const QString& address, quint16 port) {
    const QString peer = address + QLatin1Char(':') + QString::number(port);
    if (readersSeen_.contains(address)) {
        ++reconnects_;
        note(QStringLiteral("reader %1 connected again").arg(peer));
        return;
    }
    readersSeen_.insert(address);
    note(QStringLiteral("reader %1 connected").arg(peer));
}

void Collector::readerReplaced(const QString& address) {
    note(QStringLiteral("reader %1: its older connection was replaced").arg(address));
}

void Collector::readerLost(const QString& address) {
    note(QStringLiteral("reader %1 disconnected").arg(address));
}

void Collector::fileFailure(const QString& message) {
    // Empty: all is well; said only after a failure.
    if (message.isEmpty() && !fileTrouble_) return;
    fileTrouble_ = !message.isEmpty();
    note(message.isEmpty() ? QStringLiteral("files: written again") : message);
}

void Collector::linksFailed(const QString& reason) {
    linksFailed_ = true;
    note(reason);
}

void Collector::recordAccepted(const monitor::DecodedTagRecord& record, monitor::DecodeMode mode,
                               const monitor::RecordOrigin& origin, const QDateTime& received) {
    ++perReader_[QString::fromStdString(record.readerId)];
    publishing_.record(record, mode, origin, received);
}

void Collector::presenceChanged(const monitor::PresenceChange& change) {
    publishing_.presence(change);
}

} // namespace kelta::collect
