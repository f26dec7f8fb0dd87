#include "reader-sim/sim_exciter.h"

#include "reader-sim/reader_sim.h"

#include <QCommandLineParser>
#include <QMutexLocker>
#include <QTimer>

namespace kelta::sim {

namespace {

constexpr std::uint8_t kExciterStart = 0x0E, kExciterEnd = 0x0D, kExciterRequest = 0x95;
constexpr std::size_t kLongestExciterLength = 32; // length bytes above this are no exciter frame

} // namespace

std::uint8_t exciterXor(std::span<const std::uint8_t> bytes) {
    std::uint8_t x = 0;
    for (const std::uint8_t b : bytes) x ^= b;
    return x;
}

Bytes exciterFrame(std::span<const std::uint8_t> payload) {
    Bytes f{kExciterStart, static_cast<std::uint8_t>(payload.size() - 2)};
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(exciterXor(f));
    f.push_back(kExciterEnd);
    return f;
}

SimExciter::SimExciter(ReaderSim& reader, const ExciterOptions& options)
    : QObject(&reader), reader_(reader), options_(options) {
    reader.setRawFilter([this](const QByteArray& in) { return filter(in); });
}

void SimExciter::setOptions(const ExciterOptions& o) {
    QMutexLocker lock(&mutex_);
    options_ = o;
}

std::vector<Bytes> SimExciter::frames() const {
    QMutexLocker lock(&mutex_);
    return frames_;
}

ExciterState SimExciter::state() const {
    QMutexLocker lock(&mutex_);
    return state_;
}

// Between frames a 0x05 starts a reader frame (passed on whole, by its length) and a 0x0E an
// exciter frame (taken out); other bytes pass.
QByteArray SimExciter::filter(const QByteArray& in) {
    QByteArray out;
    for (const char c : in) {
        const auto b = static_cast<std::uint8_t>(c);
        switch (mode_) {
        case Mode::Between:
            if (b == kExciterStart) {
                held_.assign(1, b);
                mode_ = Mode::Exciter;
                break;
            }
            out.append(c);
            if (b == kToReader) {
                held_.assign(1, b);
                mode_ = Mode::Command;
                commandLeft_ = 0;
            }
            break;
        case Mode::Command:
            out.append(c);
            if (held_.size() < 3) {
                held_.push_back(b);
                if (held_.size() == 3) {
                    commandLeft_ = static_cast<std::size_t>(held_[1]) << 8 | held_[2];
                    if (commandLeft_ == 0 || commandLeft_ > kMaxFrame) mode_ = Mode::Between;
                }
            } else if (--commandLeft_ == 0) {
                mode_ = Mode::Between;
            }
            break;
        case Mode::Exciter:
            held_.push_back(b);
            if (held_.size() == 2 && held_[1] > kLongestExciterLength) {
                out.append(reinterpret_cast<const char*>(held_.data()),
                           static_cast<qsizetype>(held_.size()));
                mode_ = Mode::Between;
            } else if (held_.size() >= 2 && held_.size() == std::size_t{held_[1]} + 6) {
                onFrame(held_);
                mode_ = Mode::Between;
            }
            break;
        }
    }
    return out;
}

void SimExciter::onFrame(const Bytes& f) {
    ExciterOptions o;
    {
        QMutexLocker lock(&mutex_);
        frames_.push_back(f);
        o = options_;
    }
    const std::size_t n = f.size();
    // A damaged or foreign frame is ignored, as a device would.
    if (f[n - 1] != kExciterEnd || f[n - 2] != exciterXor(std::span(f).first(n - 2)) || n != 7 ||
        f[2] != kExciterRequest)
        return;
    const std::uint8_t setting = f[3], value = f[4];
    {
        QMutexLocker lock(&mutex_);
        switch (setting) {
        case 0x06:
            state_.delay = value;
            break;
        case 0x07:
            state_.idHigh = value;
            break;
        case 0x08:
            state_.idLow = value;
            break;
        case 0x09:
            state_.enabled = value;
            break;
        default:
            break;
        }
    }
    const bool faulty = o.fault != ExciterFault::None &&
                        (o.faultSetting == 0 || o.faultSetting == static_cast<int>(setting));
    Bytes reply = exciterFrame(Bytes{kExciterRequest, setting, value});
    if (faulty) {
        switch (o.fault) {
        case ExciterFault::NoAnswer:
            return;
        case ExciterFault::WrongChecksum:
            reply[reply.size() - 2] ^= 0x5A;
            break;
        case ExciterFault::WrongLength:
            reply = exciterFrame(Bytes{kExciterRequest, setting, value, 0x00});
            break;
        case ExciterFault::None:
            break;
        }
    }
    ReaderSim* r = &reader_;
    QTimer::singleShot(std::max(0, o.replyDelayMs), r, [r, reply] { r->sendRaw(reply); });
}

// ---------------------------------------------------------------------------------------------

namespace {
const QCommandLineOption kExciterFault(
    QStringLiteral("exciter-fault"),
    QStringLiteral("Serial lines: the exciter answers with a wrong checksum, not at all, or "
                   "with 8 bytes instead of 7 (default none)."),
    QStringLiteral("none|checksum|silent|length"), QStringLiteral("none"));
const QCommandLineOption kExciterFaultSetting(
    QStringLiteral("exciter-fault-setting"),
    QStringLiteral("Only the request for this setting number (6 delay, 7 and 8 ID, 9 enable) "
                   "meets the fault (default: every request)."),
    QStringLiteral("N"));
} // namespace

void addExciterOptions(QCommandLineParser& p) {
    p.addOption(kExciterFault);
    p.addOption(kExciterFaultSetting);
}

bool exciterOptionsFrom(const QCommandLineParser& p, ExciterOptions& out, QString& error) {
    const QString f = p.value(kExciterFault);
    if (f == QLatin1String("none"))
        out.fault = ExciterFault::None;
    else if (f == QLatin1String("checksum"))
        out.fault = ExciterFault::WrongChecksum;
    else if (f == QLatin1String("silent"))
        out.fault = ExciterFault::NoAnswer;
    else if (f == QLatin1String("length"))
        out.fault = ExciterFault::WrongLength;
    else {
        error = QStringLiteral("--exciter-fault: none, checksum, silent or length");
        return false;
    }
    if (p.isSet(kExciterFaultSetting)) {
        bool ok = false;
        out.faultSetting = p.value(kExciterFaultSetting).toInt(&ok);
        if (!ok || out.faultSetting < 6 || out.faultSetting > 9) {
            error = QStringLiteral("--exciter-fault-setting: 6, 7, 8 or 9");
            return false;
        }
    }
    return true;
}

} // namespace kelta::sim
