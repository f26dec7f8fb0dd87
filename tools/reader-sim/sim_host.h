#pragma once
// Runs simulated readers for tests and for the command-line program: on a thread of their
// own (so that the utility's GUI thread can block in its waits while the readers go on), or
// on the caller's thread. The waits pump the caller's events.

#include "reader-sim/reader_sim.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QThread;
class QObject;

namespace kelta::sim {

class SimHost {
public:
    explicit SimHost(bool ownThread = true);
    ~SimHost(); // stops every reader (COM links removed) and the thread
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    int addReader(const ReaderConfig& config = {}); // index of the new reader
    int readerCount() const { return static_cast<int>(readers_.size()); }
    // The reader itself; its observers are thread-safe, everything else goes through call().
    ReaderSim& reader(int index) { return *readers_.at(static_cast<std::size_t>(index)); }
    // Runs fn on the readers' thread and waits for it.
    void call(int index, const std::function<void(ReaderSim&)>& fn);
    void run(const std::function<void()>& fn);

    // Lines, set up on the readers' thread.
    quint16 listenTcp(int index, quint16 port = 0); // the port listened on, 0 on failure
    quint16 listenTcp(int index, quint16 port, const QString& address); // loopback only
    void connectTcp(int index, quint16 port, int autoReconnectMs = -1);
    bool connectTcpFrom(int index, const QString& localAddress, quint16 port,
                        int autoReconnectMs = -1);
    quint16 localTcpPort(int index);
    bool openPty(int index, int comNumber);
    QString comLinkPath(int index);
    QString ptySlavePath(int index);
    void stopReader(int index);
    void stop(); // stops every reader; the host can be destroyed afterwards

    // Waits that keep the caller's event loop turning; true when the condition came true.
    static bool waitUntil(const std::function<bool()>& cond, int timeoutMs);
    bool waitForFrames(int index, std::size_t n, int timeoutMs); // any frames
    bool waitForFrames(int index, std::uint16_t code, std::size_t n, int timeoutMs);
    bool waitForLiveFrames(int index, quint64 n, int timeoutMs); // sent
    bool waitForAnswers(int index, quint64 n, int timeoutMs);
    bool waitForPeer(int index, bool connected, int timeoutMs);
    bool waitForConnections(int index, quint64 n, int timeoutMs);

private:
    QThread* thread_ = nullptr;
    std::unique_ptr<QObject> context_; // lives on the readers' thread
    std::vector<ReaderSim*> readers_;
    bool stopped_ = false;
};

} // namespace kelta::sim
