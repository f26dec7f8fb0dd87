#pragma once
// Test ports: a port number the kernel hands out and this process keeps until it ends.
//
// The port is bound on every address with SO_REUSEADDR and never listened on, so a
// connection to it is refused, no other program's bind (nor another test's port 0) can take it,
// and the servers of this process (QTcpServer binds with SO_REUSEADDR) can still listen on it.

#include <QtGlobal>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kelta::test {

// A port held for the rest of the process; 0 when none could be had.
inline quint16 freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return 0;
    }
    static std::mutex held;
    static std::vector<int> sockets; // kept open: the reservation lasts as long as they do
    const std::lock_guard lock(held);
    sockets.push_back(fd);
    return ntohs(a.sin_port);
}

} // namespace kelta::test
