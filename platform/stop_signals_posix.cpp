#include "platform/stop_signals.h"

#include <csignal>
#include <sys/types.h>

#include "platform/platform.h"

namespace {

volatile sig_atomic_t requested_by = 0;
volatile pid_t forwarded_to[kForwardedProcesses];

void on_stop_signal(int number) {
  for (int i = 0; i < kForwardedProcesses; ++i) {
    if (forwarded_to[i] > 0) kill(forwarded_to[i], number);
  }
  if (requested_by != 0) {
    // Asked twice: the user wants out now.
    signal(number, SIG_DFL);
    raise(number);
    return;
  }
  requested_by = number;
}

sigset_t stop_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void watch_stop_signals() {
  requested_by = 0;
  for (int i = 0; i < kForwardedProcesses; ++i) forwarded_to[i] = 0;
  struct sigaction action = {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait for a worker returns early and sees the request.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int stop_signal() { return requested_by; }

bool stop_requested() { return requested_by != 0; }

bool forward_stop_signals_to(int process_id) {
  for (int i = 0; i < kForwardedProcesses; ++i) {
    if (forwarded_to[i] == 0) {
      forwarded_to[i] = process_id;
      return true;
    }
  }
  return false;
}

void stop_forwarding_to(int process_id) {
  for (int i = 0; i < kForwardedProcesses; ++i) {
    if (forwarded_to[i] == process_id) forwarded_to[i] = 0;
  }
}

void hold_stop_signals() {
  const sigset_t set = stop_signal_set();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

void release_stop_signals() {
  const sigset_t set = stop_signal_set();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}
