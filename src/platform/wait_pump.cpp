#include "platform/wait_pump.h"

#include "platform/timings.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>

namespace kelta {
namespace {

bool closingFlag = false;

std::uint32_t tick() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

bool programClosing() {
    return closingFlag;
}
void setProgramClosing(bool closing) {
    closingFlag = closing;
}

void PumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitPump(std::uint32_t milliseconds, int times) {
    for (int i = 0; i < times && !closingFlag; ++i) {
        const std::uint32_t start = tick();
        while (!closingFlag && static_cast<std::uint32_t>(tick() - start) < milliseconds) {
            QThread::msleep(timing::kPumpSleepMs);
            PumpEvents();
        }
    }
    PumpEvents();
}

} // namespace kelta
