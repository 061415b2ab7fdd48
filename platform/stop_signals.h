// The interrupt (Ctrl-C) and termination signals, turned into a stop request
// that the decoder sees through stop_requested() after every frame.
#pragma once

// From now on the first SIGINT or SIGTERM makes stop_requested() true; a
// second one ends the process at once, as if nothing had watched. Starts
// afresh: no request, no process to pass signals on to.
void watch_stop_signals();
// The signal that asked to stop, or 0.
int stop_signal();
// Worker processes that don't hear the terminal themselves: every stop signal
// is passed on to them as it arrives (at most kForwardedProcesses at once).
constexpr int kForwardedProcesses = 64;
bool forward_stop_signals_to(int process_id);
void stop_forwarding_to(int process_id);
// Holds stop signals back (while a worker is started), then lets them in.
void hold_stop_signals();
void release_stop_signals();
