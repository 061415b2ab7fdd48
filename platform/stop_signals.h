// The interrupt (Ctrl-C) and termination signals, turned into the stop
// requests of the conversions that are running.
#pragma once

#include <atomic>

// From now on the first SIGINT or SIGTERM sets the stop flag of every watched
// conversion and makes stop_signal() say which signal came; a second one ends
// the process at once, as if nothing had watched. Starts afresh: no request,
// no conversion watched.
void watch_stop_signals();
// The signal that asked to stop, or 0.
int stop_signal();
// A running conversion's stop flag, set when a stop signal comes (at once if
// one came already). At most kWatchedConversions at once.
constexpr int kWatchedConversions = 1024;
bool watch_conversion(std::atomic<bool>* stop);
void stop_watching(std::atomic<bool>* stop);
