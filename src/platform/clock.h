#pragma once
// Millisecond tick, sleeping and the tone.

#include <cstdint>

namespace kelta::platform {

// Milliseconds of a monotonic clock, cut to 32 bits: wraps about every 49.7 days.
std::uint32_t tickMs();

// Milliseconds from start to now, correct across a wrap of the counter.
inline std::uint32_t tickDiff(std::uint32_t now, std::uint32_t start) {
    return now - start;
}
std::uint32_t ticksSince(std::uint32_t start);

// Sleeps without processing events.
void sleepMs(std::uint32_t ms);

// A tone of hz for ms milliseconds: the installed sound, then the duration is waited out as the
// tone would last (at most timing::kToneLongestMs). Nothing happens for hz <= 0 or ms <= 0;
// safe without a display or an application object.
void tone(int hz, int ms);
// The sound tone() makes (the window's system beep); none by default.
void setBeepSound(void (*sound)());

} // namespace kelta::platform
