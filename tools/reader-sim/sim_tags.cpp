#include "reader-sim/sim_tags.h"

#include "reader-sim/reader_sim.h"

#include <QCommandLineParser>
#include <QMutexLocker>
#include <QTimer>

namespace kelta::sim {

namespace {

QByteArray toQt(const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

constexpr std::uint8_t kSettingsClass = 0xFF, kAdminClass = 0xFE, kKeyClass = 0xFC;
constexpr std::uint8_t kVersionGroup = 0x03;

} // namespace

V3TagState::V3TagState() {
    groups[0x01] = {10, 1, 0, 10}; // active time code, active count, -, receive count
    groups[0x02] = {10, 8, 3, 3, 2, 10};
    groups[0x0F] = {1, 1, 1};
}

SimTags::SimTags(ReaderSim& reader, const TagOptions& options)
    : QObject(&reader), reader_(reader), options_(options) {
    for (const std::uint16_t code : {kCodeV3Write, kCodeV3Read, kCodeV1})
        reader.setCommandHandler(code, [this](const ReceivedFrame& f) { return onCommand(f); });
}

void SimTags::setOptions(const TagOptions& o) {
    QMutexLocker lock(&mutex_);
    options_ = o;
}

TagOptions SimTags::options() const {
    QMutexLocker lock(&mutex_);
    return options_;
}

V3TagState SimTags::v3() const {
    QMutexLocker lock(&mutex_);
    return v3_;
}

void SimTags::setV3(const V3TagState& s) {
    QMutexLocker lock(&mutex_);
    v3_ = s;
}

std::vector<Bytes> SimTags::v1Payloads() const {
    QMutexLocker lock(&mutex_);
    return v1_;
}

int SimTags::tagAnswersSent() const {
    QMutexLocker lock(&mutex_);
    return tagAnswers_;
}

// The acknowledgement goes out at once, the tag's answer (reads only) after the delay.
std::vector<Bytes> SimTags::onCommand(const ReceivedFrame& f) {
    const TagOptions o = options();
    HeaderOptions h;
    h.readerId = reader_.config().readerId;
    h.withReaderId = f.readerId.has_value();
    const Bytes status{0x00};
    if (o.acknowledge) send(encodeReaderFrame(f.code, h, status), f.code, o, 0);

    if (f.code == kCodeV1) {
        QMutexLocker lock(&mutex_);
        v1_.push_back(f.data);
    } else if (f.code == kCodeV3Write) {
        applyWrite(f.data);
    } else if (f.code == kCodeV3Read && o.present && o.acknowledge) {
        // A split acknowledgement is complete before the answer starts.
        const int after = o.splitGapMs >= 0 ? o.splitGapMs + 5 : 0;
        send(encodeReaderFrame(f.code, h, readAnswerData(f.data)), f.code, o,
             std::max(after, o.answerDelayMs));
        QMutexLocker lock(&mutex_);
        ++tagAnswers_;
    }
    return {};
}

void SimTags::send(const Bytes& frame, std::uint16_t code, const TagOptions& o, int delayMs) {
    QByteArray bytes = toQt(frame);
    if (o.wrongCodeFirst) {
        HeaderOptions h;
        h.withReaderId = false;
        bytes.prepend(toQt(
            encodeReaderFrame(static_cast<std::uint16_t>(code ^ 0x0100), h, Bytes{0x00, 0x00})));
    }
    ReaderSim* r = &reader_;
    auto write = [r, bytes, gap = o.splitGapMs] {
        if (gap < 0) {
            r->sendRaw(Bytes(bytes.begin(), bytes.end()));
            return;
        }
        const qsizetype cut = bytes.size() / 2;
        r->sendRaw(Bytes(bytes.begin(), bytes.begin() + cut));
        const QByteArray rest = bytes.mid(cut);
        QTimer::singleShot(gap, r, [r, rest] { r->sendRaw(Bytes(rest.begin(), rest.end())); });
    };
    if (delayMs <= 0)
        write();
    else
        QTimer::singleShot(delayMs, r, write);
}

// Payload: 0 mode, 1-8 ID, 9 FF, 10 class, 11 group/01/slot, 12 item, 13 01, 14-21 PIN,
// 22-37 values.
void SimTags::applyWrite(const Bytes& p) {
    if (p.size() < 40) return;
    QMutexLocker lock(&mutex_);
    const std::uint8_t cls = p[10], group = p[11], item = p[12];
    if (cls == kSettingsClass) {
        const std::size_t index = item & 0x0F;
        v3_.groups[group][index] = p[22 + index];
    } else if (cls == kAdminClass) {
        switch (item) {
        case 0x08:
            std::copy(p.begin() + 22, p.begin() + 30, v3_.cid.begin());
            break;
        case 0x88:
            v3_.idMode = p[30];
            break;
        case 0x99:
            v3_.aesMode = p[31];
            break;
        case 0xAA:
            v3_.selectedKey = p[32];
            break;
        default:
            break;
        }
    } else if (cls == kKeyClass && group < v3_.keys.size()) {
        std::copy(p.begin() + 22, p.begin() + 38, v3_.keys[group].begin());
    }
}

// Answer data: 0 status, 1-8 tag ID, 17 item, 18 01, 20-21 FF FF, 22 group, 24-39 the group's
// values by index (the version text for the version item).
Bytes SimTags::readAnswerData(const Bytes& p) const {
    Bytes a(40, 0);
    if (p.size() < 22) return a;
    const std::uint8_t group = p[11], item = p[12];
    std::copy(p.begin() + 1, p.begin() + 9, a.begin() + 1);
    a[17] = item;
    a[18] = 0x01;
    a[20] = 0xFF;
    a[21] = 0xFF;
    a[22] = group;
    QMutexLocker lock(&mutex_);
    if (group == kVersionGroup) {
        const std::string& v = options_.version;
        std::copy_n(v.begin(), std::min<std::size_t>(16, v.size()), a.begin() + 24);
    } else if (const auto it = v3_.groups.find(group); it != v3_.groups.end()) {
        std::copy(it->second.begin(), it->second.end(), a.begin() + 24);
    }
    return a;
}

// ---------------------------------------------------------------------------------------------

namespace {
const QCommandLineOption kTagDelay(QStringLiteral("tag-delay"),
                                   QStringLiteral("A tag answers a read MS after the reader's "
                                                  "acknowledgement (default 2000)."),
                                   QStringLiteral("MS"), QStringLiteral("2000"));
const QCommandLineOption kTagAbsent(QStringLiteral("tag-absent"),
                                    QStringLiteral("No tag answers (the reader still "
                                                   "acknowledges every tag command)."));
const QCommandLineOption kTagWrong(QStringLiteral("tag-wrong-code"),
                                   QStringLiteral("A frame with another code before every "
                                                  "acknowledgement and tag answer."));
const QCommandLineOption kTagSplit(QStringLiteral("tag-split"),
                                   QStringLiteral("Acknowledgements and tag answers in two "
                                                  "writes, MS apart."),
                                   QStringLiteral("MS"));
const QCommandLineOption kTagVersion(QStringLiteral("tag-version"),
                                     QStringLiteral("Firmware version text of the V3 tag (at "
                                                    "most 16 characters)."),
                                     QStringLiteral("TEXT"));
} // namespace

void addTagOptions(QCommandLineParser& p) {
    for (const auto* o : {&kTagDelay, &kTagAbsent, &kTagWrong, &kTagSplit, &kTagVersion})
        p.addOption(*o);
}

bool tagOptionsFrom(const QCommandLineParser& p, TagOptions& out, QString& error) {
    bool ok = false;
    out.answerDelayMs = p.value(kTagDelay).toInt(&ok);
    if (!ok || out.answerDelayMs < 0 || out.answerDelayMs > 600000) {
        error = QStringLiteral("--tag-delay: a number of milliseconds from 0 to 600000");
        return false;
    }
    out.present = !p.isSet(kTagAbsent);
    out.wrongCodeFirst = p.isSet(kTagWrong);
    if (p.isSet(kTagSplit)) {
        out.splitGapMs = p.value(kTagSplit).toInt(&ok);
        if (!ok || out.splitGapMs < 0 || out.splitGapMs > 60000) {
            error = QStringLiteral("--tag-split: a number of milliseconds from 0 to 60000");
            return false;
        }
    }
    if (p.isSet(kTagVersion)) {
        const QByteArray v = p.value(kTagVersion).toLatin1();
        if (v.isEmpty() || v.size() > 16) {
            error = QStringLiteral("--tag-version: 1 to 16 characters");
            return false;
        }
        out.version = v.toStdString();
    }
    return true;
}

} // namespace kelta::sim
