#include "platform/stop_signals.h"

#include <cerrno>
#include <csignal>

namespace {

// Read by every thread, written by the handler: an atomic, which is lock-free.
std::atomic<int> requested_by{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler writes it");
// Lock-free, so the handler may read them whatever a thread is doing.
std::atomic<std::atomic<bool>*> watched[kWatchedConversions];
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free, "the signal handler reads the slots");

void stop_all_watched() {
  for (auto& slot : watched) {
    std::atomic<bool>* stop = slot.load();
    if (stop != nullptr) stop->store(true);
  }
}

void on_stop_signal(int number) {
  // The thread it interrupts may be about to read errno.
  const int saved_errno = errno;
  if (requested_by.load() != 0) {
    // Asked twice: the user wants out now.
    signal(number, SIG_DFL);
    raise(number);
    return;
  }
  requested_by.store(number);
  stop_all_watched();
  errno = saved_errno;
}

}  // namespace

void watch_stop_signals() {
  requested_by.store(0);
  for (auto& slot : watched) slot.store(nullptr);
  struct sigaction action = {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait returns early and sees the request.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int stop_signal() { return requested_by.load(); }

bool watch_conversion(std::atomic<bool>* stop) {
  for (auto& slot : watched) {
    std::atomic<bool>* empty = nullptr;
    if (slot.compare_exchange_strong(empty, stop)) {
      // A signal that came before the slot was taken found nothing to set.
      if (requested_by.load() != 0) stop->store(true);
      return true;
    }
  }
  return false;
}

void stop_watching(std::atomic<bool>* stop) {
  for (auto& slot : watched) {
    std::atomic<bool>* mine = stop;
    slot.compare_exchange_strong(mine, nullptr);
  }
}
