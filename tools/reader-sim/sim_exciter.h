#pragma once
// An exciter on the same serial line as the simulated reader. It takes its own frames (0E,
// length, payload, XOR checksum, 0D) out of the bytes the utility writes, leaves every other
// byte to the reader, and answers each request (0x95, setting, value) with a 7-byte frame,
// or misbehaves on purpose.

#include "reader-sim/sim_frames.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <vector>

class QCommandLineParser;

namespace kelta::sim {

class ReaderSim;

enum class ExciterFault { None, WrongChecksum, NoAnswer, WrongLength };

struct ExciterOptions {
    ExciterFault fault = ExciterFault::None;
    int faultSetting = 0; // the setting number the fault applies to; 0: every request
    int replyDelayMs = 10;
};

// The settings as the exciter took them.
struct ExciterState {
    int delay = 0, idHigh = 0, idLow = 0, enabled = 0;
};

std::uint8_t exciterXor(std::span<const std::uint8_t> bytes);
Bytes exciterFrame(std::span<const std::uint8_t> payload);

class SimExciter : public QObject {
    Q_OBJECT
public:
    SimExciter(ReaderSim& reader, const ExciterOptions& options = {});
    void setOptions(const ExciterOptions& o);
    // Observers (any thread).
    std::vector<Bytes> frames() const; // every exciter frame received, whole
    ExciterState state() const;

private:
    QByteArray filter(const QByteArray& in);
    void onFrame(const Bytes& frame);

    enum class Mode { Between, Command, Exciter };
    ReaderSim& reader_;
    Mode mode_ = Mode::Between;
    Bytes held_;
    std::size_t commandLeft_ = 0;
    mutable QMutex mutex_;
    ExciterOptions options_;
    std::vector<Bytes> frames_;
    ExciterState state_;
};

void addExciterOptions(QCommandLineParser& p);
bool exciterOptionsFrom(const QCommandLineParser& p, ExciterOptions& out, QString& error);

} // namespace kelta::sim
