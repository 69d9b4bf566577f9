// Work on a thread beside the window's event loop: the window goes on
// repainting, and its Start button or Close can end the wait, while a host
// name resolves or an update downloads.
#pragma once

#include <functional>

// Runs Work on a thread of its own and processes the window's events until
// it has ended: true then. When GiveUp (asked between rounds of events)
// returns true first, returns false at once and leaves Work to end by
// itself: all that Work uses must then be its own. Tick, when given, is
// called before each round of events (to show progress).
bool RunBeside(std::function<void()> Work, const std::function<bool()>& GiveUp,
               const std::function<void()>& Tick = {});
