#include "reader-sim/sim_host.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QThread>

namespace kelta::sim {

SimHost::SimHost(bool ownThread) {
    if (ownThread) {
        thread_ = new QThread;
        thread_->setObjectName(QStringLiteral("reader-sim"));
        thread_->start();
    }
    context_ = std::make_unique<QObject>();
    if (thread_) context_->moveToThread(thread_);
}

SimHost::~SimHost() {
    stop();
    if (thread_) {
        // The context object belongs to the thread; delete it there before the thread ends.
        QObject* ctx = context_.release();
        QMetaObject::invokeMethod(
            ctx, [ctx] { delete ctx; }, Qt::BlockingQueuedConnection);
        thread_->quit();
        thread_->wait();
        delete thread_;
    }
}

void SimHost::run(const std::function<void()>& fn) {
    if (!thread_ || QThread::currentThread() == thread_) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context_.get(), fn, Qt::BlockingQueuedConnection);
}

void SimHost::call(int index, const std::function<void(ReaderSim&)>& fn) {
    ReaderSim* r = readers_.at(static_cast<std::size_t>(index));
    run([r, &fn] { fn(*r); });
}

int SimHost::addReader(const ReaderConfig& config) {
    ReaderSim* r = nullptr;
    run([&] { r = new ReaderSim(config); });
    readers_.push_back(r);
    return static_cast<int>(readers_.size()) - 1;
}

quint16 SimHost::listenTcp(int index, quint16 port) {
    quint16 got = 0;
    call(index, [&](ReaderSim& r) {
        if (r.listenTcp(port)) got = r.tcpPort();
    });
    return got;
}

quint16 SimHost::listenTcp(int index, quint16 port, const QString& address) {
    quint16 got = 0;
    call(index, [&](ReaderSim& r) {
        if (r.listenTcp(port, address)) got = r.tcpPort();
    });
    return got;
}

bool SimHost::connectTcpFrom(int index, const QString& localAddress, quint16 port,
                             int autoReconnectMs) {
    bool ok = false;
    call(index, [&](ReaderSim& r) { ok = r.connectTcpFrom(localAddress, port, autoReconnectMs); });
    return ok;
}

quint16 SimHost::localTcpPort(int index) {
    quint16 p = 0;
    call(index, [&](ReaderSim& r) { p = r.localTcpPort(); });
    return p;
}

void SimHost::connectTcp(int index, quint16 port, int autoReconnectMs) {
    call(index, [&](ReaderSim& r) { r.connectTcp(port, autoReconnectMs); });
}

bool SimHost::openPty(int index, int comNumber) {
    bool ok = false;
    call(index, [&](ReaderSim& r) { ok = r.openPty(comNumber); });
    return ok;
}

QString SimHost::comLinkPath(int index) {
    QString s;
    call(index, [&](ReaderSim& r) { s = r.comLinkPath(); });
    return s;
}

QString SimHost::ptySlavePath(int index) {
    QString s;
    call(index, [&](ReaderSim& r) { s = r.ptySlavePath(); });
    return s;
}

void SimHost::stopReader(int index) {
    call(index, [](ReaderSim& r) { r.stop(); });
}

void SimHost::stop() {
    if (stopped_) return;
    stopped_ = true;
    run([this] {
        for (ReaderSim* r : readers_) {
            r->stop();
            delete r;
        }
    });
    readers_.clear();
}

bool SimHost::waitUntil(const std::function<bool()>& cond, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    for (;;) {
        if (cond()) return true;
        if (t.elapsed() > timeoutMs) return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

bool SimHost::waitForFrames(int index, std::size_t n, int timeoutMs) {
    ReaderSim& r = reader(index);
    return waitUntil([&] { return r.receivedCount() >= n; }, timeoutMs);
}

bool SimHost::waitForFrames(int index, std::uint16_t code, std::size_t n, int timeoutMs) {
    ReaderSim& r = reader(index);
    return waitUntil([&] { return r.receivedCount(code) >= n; }, timeoutMs);
}

bool SimHost::waitForLiveFrames(int index, quint64 n, int timeoutMs) {
    ReaderSim& r = reader(index);
    return waitUntil([&] { return r.stats().liveFramesSent >= n; }, timeoutMs);
}

bool SimHost::waitForAnswers(int index, quint64 n, int timeoutMs) {
    ReaderSim& r = reader(index);
    return waitUntil([&] { return r.stats().answersSent >= n; }, timeoutMs);
}

bool SimHost::waitForPeer(int index, bool connected, int timeoutMs) {
    ReaderSim& r = reader(index);
    // isPeerConnected() touches the line: ask on the readers' thread.
    return waitUntil(
        [&] {
            bool c = false;
            run([&] { c = r.isPeerConnected(); });
            return c == connected;
        },
        timeoutMs);
}

bool SimHost::waitForConnections(int index, quint64 n, int timeoutMs) {
    ReaderSim& r = reader(index);
    return waitUntil([&] { return r.stats().connections >= n; }, timeoutMs);
}

} // namespace kelta::sim
