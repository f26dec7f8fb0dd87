#pragma once
// Waiting without freezing the window: every pause of the program sleeps 1 ms at a time and
// lets the window process its pending events, so handlers run nested inside the wait.

#include <cstdint>

namespace kelta {

// Waits `times` × `milliseconds` while the window keeps processing events. Returns at once
// (after one last event pass) when the program is closing.
void WaitPump(std::uint32_t milliseconds, int times);

// Lets the window process its pending events once ("let the window process messages").
void PumpEvents();

// Set when the main window is closing or the application is quitting. Every wait and every
// exchange loop checks it and gives up, so a closing window ends the work in progress
// instead of running it to its end against destroyed controls.
bool programClosing();
void setProgramClosing(bool closing);

} // namespace kelta
