#pragma once
// A serial port over termios: opened exclusively, raw, non-blocking. Reads take only what is
// queued, so nothing ever waits on the line.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <termios.h>
#include <vector>

namespace kelta::platform {

// "115200,n,8,1": baud, parity (n, e or o), data bits (7 or 8), stop bits (1 or 2).
struct LineSettings {
    int baud = 115200;
    char parity = 'n';
    int dataBits = 8;
    int stopBits = 1;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Case-insensitive, blanks around the fields tolerated; nullopt for anything else (an unknown
// baud rate, a missing or extra field).
std::optional<LineSettings> parseLineSettings(std::string_view text);
std::optional<LineSettings> parseLineSettings(const QString& text);

// Puts the settings into a termios record: raw mode, no flow control, receiver on, modem lines
// ignored, reads that never wait (VMIN = VTIME = 0). False for a baud rate termios lacks.
bool configureTermios(termios& t, const LineSettings& settings);

// The port's whole termios record: line settings and read time-outs (VMIN/VTIME).
struct PortState {
    termios attrs{};
};

enum class Purge { Input, Output, Both };

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // COMn through the serial device map. Fails on a missing device, a device that is not a
    // terminal, or one that another handle holds. An open port is closed first.
    bool open(int comNumber);
    bool open(const QString& devicePath);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    QString devicePath() const { return path_; }
    // True when path (links followed) names the device this port has open.
    bool isDevice(const QString& path) const;
    int lastError() const { return lastError_; } // errno of the last failure
    QString lastErrorText() const;

    // configureTermios() on the port's current record. A pseudo-terminal that refuses the
    // character size or parity gets 8 bits without parity: it has no line to frame.
    bool applyLineSettings(const LineSettings& settings);
    bool applyLineSettings(const QString& text); // false when the text does not parse

    std::optional<PortState> saveState();
    bool restoreState(const PortState& state);

    // Driver queue sizes cannot be set here; kept so callers read as the protocol demands.
    bool setQueueSizes(int inputBytes, int outputBytes);

    bool purge(Purge which);

    // Bytes waiting to be read; nullopt when the device failed or vanished (hang-up, EIO,
    // the other side of a pseudo-terminal closed).
    std::optional<int> queuedInput();

    // Reads up to buffer.size() bytes without waiting: the count read (0 when nothing is
    // queued), nullopt on a failure or when the device has gone.
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer);
    std::optional<std::vector<std::uint8_t>> read(std::size_t maxBytes);

    // Writes all bytes, waiting briefly while the driver's queue is full: the count written
    // (less than asked when the queue did not drain in time), nullopt on a failure.
    std::optional<std::size_t> write(std::span<const std::uint8_t> bytes);

    int nativeHandle() const { return fd_; }

private:
    bool fail(int err);
    bool hungUp();

    int fd_ = -1;
    QString path_;
    int lastError_ = 0;
};

} // namespace kelta::platform
