// Two threads that take turns: each runs until it passes the turn, then
// waits for it to come back, or for the other to finish.
#pragma once

#include <condition_variable>
#include <mutex>

class Turns {
 public:
  void wait_for(int side) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return turn_ == side || finished_[1 - side]; });
  }
  void pass(int side) {
    std::unique_lock<std::mutex> guard(lock_);
    turn_ = 1 - side;
    changed_.notify_all();
    changed_.wait(guard, [&] { return turn_ == side || finished_[1 - side]; });
  }
  void finish(int side) {
    std::lock_guard<std::mutex> guard(lock_);
    finished_[side] = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int turn_ = 0;
  bool finished_[2] = {false, false};
};
