#include "platform/clock.h"

#include "platform/timings.h"

#include <QThread>
#include <algorithm>
#include <chrono>

namespace kelta::platform {

std::uint32_t tickMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::uint32_t ticksSince(std::uint32_t start) {
    return tickDiff(tickMs(), start);
}

void sleepMs(std::uint32_t ms) {
    QThread::msleep(ms);
}

namespace {
void (*beepSound)() = nullptr;
} // namespace

void setBeepSound(void (*sound)()) {
    beepSound = sound;
}

void tone(int hz, int ms) {
    if (hz <= 0 || ms <= 0) return;
    // Only a program with a display installs a sound; a console program only waits.
    if (beepSound) beepSound();
    sleepMs(static_cast<std::uint32_t>(std::min(ms, timing::kToneLongestMs)));
}

} // namespace kelta::platform
