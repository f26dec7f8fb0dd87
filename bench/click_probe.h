#pragma once
// Shared by the load programs: a click probe that measures how late the window handles a
// click while a run goes on, and a percentile of its figures.

#include <QCoreApplication>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelta::bench {

using Clock = std::chrono::steady_clock;

std::int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    return v[i];
}

// Asks for a mouse press and release on the probe button from another thread, one click at a
// time, and records how long each took to reach the button's clicked() on the GUI thread. The
// events are made and sent on the GUI thread, inside the queued request: a mouse event is
// built from the pointing device's shared list of active points, which only the GUI thread may
// touch. The request waits in the GUI thread's queue as a posted click would.
class ClickProbe {
public:
    explicit ClickProbe(QPushButton* button) : button_(button) {
        QObject::connect(button_, &QPushButton::clicked, [this] {
            latencies_.push_back(static_cast<double>(nowUs() - stamp_.load()) / 1000.0);
            pending_ = false;
        });
    }
    void start() {
        running_ = true;
        thread_ = std::unique_ptr<QThread>(QThread::create([this] {
            while (running_) {
                QThread::msleep(50);
                if (pending_) continue;
                pending_ = true;
                stamp_ = nowUs();
                QMetaObject::invokeMethod(
                    button_, [b = button_] { click(b); }, Qt::QueuedConnection);
            }
        }));
        thread_->start();
    }
    std::vector<double> stop() {
        running_ = false;
        if (thread_) thread_->wait();
        return latencies_;
    }

private:
    static void click(QPushButton* b) {
        const QPointF at(5, 5);
        QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(b, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(b, &release);
    }

    QPushButton* button_;
    std::unique_ptr<QThread> thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> pending_{false};
    std::atomic<std::int64_t> stamp_{0};
    std::vector<double> latencies_;
};

} // namespace kelta::bench
