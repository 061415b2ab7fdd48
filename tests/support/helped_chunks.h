// A chunk pool with threads that help decode, for the tests that convert a
// stream in chunks.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "cli/chunk_pool.h"

class HelpedChunks {
 public:
  // `held`: whether the listing keeps the input for the chunks.
  // `listing_read_bytes`: small, so that the listing's reads end anywhere in a frame.
  HelpedChunks(int helpers, int chunk_frames, bool held = true, uint32_t listing_read_bytes = 1000)
      : pool_(helpers + 1),
        stream_(pool_, chunk_frames, 0, listing_read_bytes, held ? ChunkedStream::kMostHeldBytes : 0) {
    for (int h = 0; h < helpers; ++h) {
      threads_.emplace_back([this] {
        while (!done_) {
          if (!pool_.help_once()) pool_.wait_for_work(5);
        }
      });
    }
  }
  ~HelpedChunks() {
    done_ = true;
    pool_.wake_all();
    for (std::thread& thread : threads_) thread.join();
  }
  HelpedChunks(const HelpedChunks&) = delete;
  HelpedChunks& operator=(const HelpedChunks&) = delete;

  const ChunkRunner* runner() const { return &stream_.runner(); }
  size_t listed_frames() const { return stream_.listed_frames(); }

 private:
  ChunkPool pool_;
  ChunkedStream stream_;
  std::atomic<bool> done_{false};
  std::vector<std::thread> threads_;
};
