#pragma once
// A pseudo-terminal for the serial tests: the test drives the master side, the code under test
// opens the slave side by path.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kelta::test {

class PtyPair {
public:
    PtyPair() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
        slavePath_ = QString::fromLocal8Bit(name);
        // The master side raw too, so that the bytes the test sends are passed unchanged.
        termios t{};
        ::tcgetattr(master_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master_, TCSANOW, &t);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair() {
        closeMaster();
        if (slave_ >= 0) ::close(slave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool valid() const { return master_ >= 0 && !slavePath_.isEmpty(); }
    QString slavePath() const { return slavePath_; }
    int master() const { return master_; }
    int slave() const { return slave_; }

    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    bool send(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd p{master_, POLLOUT, 0};
                if (::poll(&p, 1, 2000) <= 0) return false;
            }
        }
        return true;
    }

    // Collects what the slave side wrote until count bytes came or two seconds passed.
    std::vector<std::uint8_t> receive(std::size_t count) {
        std::vector<std::uint8_t> out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        std::uint8_t buf[4096];
        while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                out.insert(out.end(), buf, buf + n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return out;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

// Polls a condition for up to two seconds; the result of the last look.
template <class Condition> bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace kelta::test
