#include "platform/serial_port.h"

#include "platform/serial_device_map.h"
#include "platform/timings.h"

#include <QFile>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace kelta::platform {

namespace {

struct BaudEntry {
    int baud;
    speed_t code;
};

constexpr BaudEntry kBaudRates[] = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},   {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600}, {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

std::optional<speed_t> speedCode(int baud) {
    for (const auto& e : kBaudRates)
        if (e.baud == baud) return e.code;
    return std::nullopt;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// A plain decimal number of at most 7 digits, nothing else.
std::optional<int> decimal(std::string_view s) {
    if (s.empty() || s.size() > 7) return std::nullopt;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

} // namespace

std::optional<LineSettings> parseLineSettings(std::string_view text) {
    std::string_view fields[4];
    std::size_t count = 0;
    while (true) {
        const std::size_t comma = text.find(',');
        if (count == 4) return std::nullopt; // a fifth field
        fields[count++] = trim(text.substr(0, comma));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (count != 4) return std::nullopt;

    LineSettings s;
    const auto baud = decimal(fields[0]);
    if (!baud || !speedCode(*baud)) return std::nullopt;
    s.baud = *baud;

    if (fields[1].size() != 1) return std::nullopt;
    s.parity = static_cast<char>(std::tolower(static_cast<unsigned char>(fields[1][0])));
    if (s.parity != 'n' && s.parity != 'e' && s.parity != 'o') return std::nullopt;

    const auto data = decimal(fields[2]);
    if (!data || (*data != 7 && *data != 8)) return std::nullopt;
    s.dataBits = *data;

    const auto stop = decimal(fields[3]);
    if (!stop || (*stop != 1 && *stop != 2)) return std::nullopt;
    s.stopBits = *stop;
    return s;
}

std::optional<LineSettings> parseLineSettings(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return parseLineSettings(std::string_view(bytes.constData(), bytes.size()));
}

SerialPort::~SerialPort() {
    close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)),
      lastError_(other.lastError_) {}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        lastError_ = other.lastError_;
    }
    return *this;
}

bool SerialPort::fail(int err) {
    lastError_ = err;
    return false;
}

QString SerialPort::lastErrorText() const {
    return lastError_ ? QString::fromLocal8Bit(std::strerror(lastError_)) : QString();
}

bool SerialPort::open(int comNumber) {
    const QString path = devicePathFor(comNumber);
    if (path.isEmpty()) {
        close();
        return fail(ENOENT);
    }
    return open(path);
}

bool SerialPort::open(const QString& devicePath) {
    close();
    const QByteArray native = QFile::encodeName(devicePath);
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    // Not shared: the lock holds against every other open, root's included; TIOCEXCL keeps
    // out programs that do not lock.
    int err = 0;
    if (!::isatty(fd))
        err = ENOTTY;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        err = errno == EWOULDBLOCK ? EBUSY : errno;
    else if (::ioctl(fd, TIOCEXCL) != 0)
        err = errno;
    if (err != 0) {
        ::close(fd);
        return fail(err);
    }
    fd_ = fd;
    path_ = devicePath;
    lastError_ = 0;
    return true;
}

bool SerialPort::isDevice(const QString& path) const {
    if (fd_ < 0) return false;
    struct stat mine = {};
    struct stat named = {};
    const QByteArray native = QFile::encodeName(path);
    if (::fstat(fd_, &mine) != 0 || ::stat(native.constData(), &named) != 0) return false;
    if (S_ISCHR(mine.st_mode) && S_ISCHR(named.st_mode)) return mine.st_rdev == named.st_rdev;
    return mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

void SerialPort::close() {
    if (fd_ < 0) return;
    // The exclusive flag belongs to the terminal, not to this handle: clear it so that the
    // device can be opened again while someone else still holds it (a pty's other side).
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

bool configureTermios(termios& t, const LineSettings& settings) {
    const auto speed = speedCode(settings.baud);
    if (!speed) return false;
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= (settings.dataBits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
    if (settings.parity == 'e') t.c_cflag |= PARENB;
    if (settings.parity == 'o') t.c_cflag |= PARENB | PARODD;
    if (settings.stopBits == 2) t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return ::cfsetispeed(&t, *speed) == 0 && ::cfsetospeed(&t, *speed) == 0;
}

namespace {

// The slave side of a pseudo-terminal: it has no line, so character size and parity mean
// nothing to it (and some kernels refuse them).
bool isPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

} // namespace

bool SerialPort::applyLineSettings(const LineSettings& settings) {
    if (fd_ < 0) return fail(EBADF);
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return fail(errno);
    if (!configureTermios(t, settings)) return fail(EINVAL);
    if (::tcsetattr(fd_, TCSANOW, &t) == 0) return true;
    const int err = errno;
    if (err == EINVAL && isPseudoTerminal(fd_)) {
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD);
        t.c_cflag |= CS8;
        if (::tcsetattr(fd_, TCSANOW, &t) == 0) return true;
    }
    return fail(err);
}

bool SerialPort::applyLineSettings(const QString& text) {
    const auto settings = parseLineSettings(text);
    if (!settings) return fail(EINVAL);
    return applyLineSettings(*settings);
}

std::optional<PortState> SerialPort::saveState() {
    if (fd_ < 0) {
        fail(EBADF);
        return std::nullopt;
    }
    PortState state;
    if (::tcgetattr(fd_, &state.attrs) != 0) {
        fail(errno);
        return std::nullopt;
    }
    return state;
}

bool SerialPort::restoreState(const PortState& state) {
    if (fd_ < 0) return fail(EBADF);
    if (::tcsetattr(fd_, TCSANOW, &state.attrs) != 0) return fail(errno);
    return true;
}

bool SerialPort::setQueueSizes(int, int) {
    return fd_ >= 0 || fail(EBADF);
}

bool SerialPort::purge(Purge which) {
    if (fd_ < 0) return fail(EBADF);
    const int queue = which == Purge::Input    ? TCIFLUSH
                      : which == Purge::Output ? TCOFLUSH
                                               : TCIOFLUSH;
    if (::tcflush(fd_, queue) != 0) return fail(errno);
    return true;
}

bool SerialPort::hungUp() {
    pollfd p{fd_, POLLIN, 0};
    int err = 0;
    if (::poll(&p, 1, 0) < 0)
        err = errno;
    else if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
        err = EIO;
    if (err == 0) return false;
    fail(err);
    return true;
}

std::optional<int> SerialPort::queuedInput() {
    if (fd_ < 0) {
        fail(EBADF);
        return std::nullopt;
    }
    int count = 0;
    if (::ioctl(fd_, FIONREAD, &count) != 0) {
        fail(errno);
        return std::nullopt;
    }
    // A hung-up terminal may still answer the query with 0; poll tells it apart from a quiet
    // line.
    if (count == 0 && hungUp()) return std::nullopt;
    return count;
}

std::optional<std::size_t> SerialPort::read(std::span<std::uint8_t> buffer) {
    if (fd_ < 0) {
        fail(EBADF);
        return std::nullopt;
    }
    std::size_t total = 0;
    while (total < buffer.size()) {
        const ssize_t n = ::read(fd_, buffer.data() + total, buffer.size() - total);
        if (n > 0) {
            total += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (total > 0) break; // the failure shows again on the next call
            fail(errno);
            return std::nullopt;
        }
        // Nothing queued (0 with VMIN = VTIME = 0, or EAGAIN), or a terminal that hung up
        // and reads as end of file: poll tells the two apart.
        if (total == 0 && hungUp()) return std::nullopt;
        break;
    }
    return total;
}

std::optional<std::vector<std::uint8_t>> SerialPort::read(std::size_t maxBytes) {
    std::vector<std::uint8_t> bytes(maxBytes);
    const auto n = read(std::span<std::uint8_t>(bytes));
    if (!n) return std::nullopt;
    bytes.resize(*n);
    return bytes;
}

std::optional<std::size_t> SerialPort::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        fail(EBADF);
        return std::nullopt;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timing::kSerialWriteTimeoutMs);
    std::size_t total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + total, bytes.size() - total);
        if (n > 0) {
            total += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            fail(errno);
            return std::nullopt;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno != EINTR) {
            fail(errno);
            return std::nullopt;
        }
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            fail(EIO);
            return std::nullopt;
        }
    }
    if (total < bytes.size()) lastError_ = ETIMEDOUT;
    return total;
}

} // namespace kelta::platform
