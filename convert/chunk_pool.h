// The chunks of long files, offered to every thread of the run: a thread
// with no file of its own helps decode another file's chunks, from the
// first chunk listed on, and writes them in order once all are listed, as
// does the file's own thread. One thread at a time writes a file's chunks:
// a full disk or a slow one is no longer one thread's alone to wait for.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "convert/large_page_block.h"
#include "decoder/frame_list.h"

class ChunkPool;

// Where a long file is cut: a file of min_input_bytes or more is decoded in
// chunks of `frames` frames on every thread of the run. Half a file's write
// of two-channel PCM: sixteen chunks hold eight whole writes, so none is
// split where the slots start over and each goes out from where the chunks
// were decoded.
struct ChunkSizes {
  int frames = 112;
  int64_t min_input_bytes = int64_t{4} << 20;
};
// The sizes, or those of the test switches SONDRIK_CHUNK_FRAMES (chunks of a
// few frames) and SONDRIK_CHUNK_MIN_BYTES (files of any size).
ChunkSizes chunk_sizes_in_use();

// One conversion's listing and chunks; its runner() is what the decoder
// takes. Use one per conversion, from one thread (the conversion's).
class ChunkedStream {
 public:
  // The listing reads the input this much at a time: a system call per
  // 4 KiB cost it half its time. Read ahead of it by the other threads, 64
  // KiB blocks were gone before a thread woke up to read more.
  static constexpr uint32_t kListingReadBytes = 512 * 1024;
  // The listing keeps an input up to this size whole, so its chunks aren't
  // read twice (22 minutes of 192 kbit/s): with the slots and the listing it
  // stays within a file's 64 MiB.
  static constexpr int64_t kMostHeldBytes = int64_t{32} << 20;

  ChunkedStream(ChunkPool& pool, const ChunkSizes& sizes)
      : ChunkedStream(pool, sizes.frames, sizes.min_input_bytes) {}
  ChunkedStream(ChunkPool& pool, int chunk_frames, int64_t min_input_bytes,
                uint32_t listing_read_bytes = kListingReadBytes, int64_t most_held_bytes = kMostHeldBytes);
  ~ChunkedStream();
  ChunkedStream(const ChunkedStream&) = delete;
  ChunkedStream& operator=(const ChunkedStream&) = delete;

  const ChunkRunner& runner() const { return runner_; }
  // Frames the listing found: 0 when the stream went the one pass.
  size_t listed_frames() const { return frame_count_; }

 private:
  friend class ChunkPool;
  struct Slot {
    // Not cleared: the threads that decode into them touch them first.
    int16_t* pcm;  // in slot_pcm_
    std::unique_ptr<uint16_t[]> values;
    std::unique_ptr<uint8_t[]> flags;
    ChunkOutput output;
    int64_t chunk = -1;  // the chunk decoded into it, once done
  };

  static void begin(void* self, const ChunkSource& source);
  // Keeps the next frame in 8 bytes; false when it can't be read back as it is.
  bool keep(const FrameEntry& entry, int32_t free_format_length);
  static bool append(void* self, const FrameEntry& entry, int32_t free_format_length, int64_t held_end);
  static FrameStore stored(void* self);
  static bool passed(void* self, const PassedBytes& so_far);
  static const PassedBytes* passed_stored(void* self, int64_t* count);
  static void listed(void* self, int64_t count, int32_t free_format_length);
  static void write_in_order(void* self, const ChunkSink& sink);
  static void end(void* self);
  static const uint8_t* read_block(void* self, int64_t block, uint32_t* got);
  static void release_block(void* self, int64_t block);

  // Under the pool's lock: the next chunk a thread may start, or -1.
  int64_t next_open() const;
  // A chunk a thread has taken to decode.
  struct Taken {
    int64_t chunk;
    int64_t count;       // its frames
    ChunkSource source;  // as of its last frame's listing
    ChunkScratch* scratch;
  };
  // Under the pool's lock: takes the chunk next_open() gave.
  Taken take();
  // Decodes a chunk into its slot, called without the lock; returns with it,
  // having written what that made ready.
  void decode(const Taken& taken, std::unique_lock<std::mutex>& guard);

  // Under the pool's lock: whether a thread may write the next chunk.
  bool write_open() const;
  // Writes the chunks in order while they are decoded, having found
  // write_open(); the lock is let go meanwhile.
  void write_ready(std::unique_lock<std::mutex>& guard);

  // Under the pool's lock: whether a thread may start reading the listing's
  // next block.
  bool read_open() const;
  // Reads block k into its room, having taken it under the lock; the lock
  // is not held.
  void read(int64_t block);

  ChunkPool& pool_;
  ChunkRunner runner_;
  // Reserved whole before the listing: appending never moves what threads read.
  LargePageBlock frames_block_;
  ListedFrame* frames_ = nullptr;
  LargePageBlock runs_block_;
  ListedRun* runs_ = nullptr;
  size_t frame_count_ = 0;
  size_t frame_room_ = 0;
  int32_t last_of_body_[2] = {-1, -1};  // as of the next frame appended
  int32_t listed_free_format_ = 0;  // of the free-format frames listed; 0: none yet
  // What the search passed over, where it grew: reserved with the entries.
  LargePageBlock passed_block_;
  PassedBytes* passed_ = nullptr;
  size_t passed_count_ = 0;
  size_t passed_room_ = 0;
  ChunkSource source_{};
  FileHandle own_input_ = kNoFile;  // the chunks' own reads of the input, when it could be opened again
  // Under the pool's lock.
  int64_t listed_ = 0;        // entries published to the threads
  int32_t free_format_length_ = 0;  // as of the last entry published
  bool all_listed_ = false;
  int64_t chunks_ = 0;        // once all are listed
  int64_t next_ = 0;      // the first chunk no thread has started
  int64_t released_ = 0;  // chunks the sink is done with
  ChunkSink sink_{};        // while the chunks are written
  int64_t next_write_ = 0;  // the first chunk not written
  bool writing_ = false;    // a thread is in the sink
  bool write_over_ = false;  // the sink wants no more
  int in_flight_ = 0;     // chunks being decoded now
  std::vector<Slot> slots_;
  LargePageBlock slot_pcm_;  // every slot's PCM, one block
  LargePageBlock held_;  // the input whole, where the chunks decode from it
  int64_t most_held_bytes_;

  // Or the listing's blocks of the input, read ahead of it by any thread.
  static constexpr int kReadBlocks = 16;
  struct ReadBlock {
    int64_t block = -1;  // the block in its room, once read
    uint32_t got = 0;
    bool failed = false;
  };
  LargePageBlock read_room_;  // kReadBlocks of read_ahead_bytes
  FileHandle listing_input_ = kNoFile;
  int64_t listing_start_ = 0;  // the input's offset of block 0
  // Under the pool's lock.
  ReadBlock read_blocks_[kReadBlocks];
  bool reading_ = false;        // while the listing takes blocks
  int64_t next_read_ = 0;       // the first block no thread has started
  int64_t read_released_ = 0;   // blocks the listing is done with
  int64_t read_end_ = INT64_MAX;  // the first block past a short or failed one
};

class ChunkPool {
 public:
  // `threads`: the run's threads, which bounds the chunks decoded ahead.
  // The run's files start now.
  explicit ChunkPool(int threads);

  // Decodes one chunk some conversion offers; false when none is open.
  bool help_once();
  // Wakes the threads waiting in wait_for_work: something else changed.
  void wake_all();
  // Waits until a chunk is open, wake_all is called or `timeout_ms` passes.
  void wait_for_work(int timeout_ms);

 private:
  friend class ChunkedStream;
  // Under the lock: room to decode a chunk in, and back when it is done.
  ChunkScratch* take_scratch();
  void give_back(ChunkScratch* scratch) { free_scratch_.push_back(scratch); }
  // Room for every thread, made before the first chunk is offered: made
  // under the lock, its system calls held up the listing.
  void reserve_scratch();
  // Under the lock: counts a change for the threads polling for one.
  void count_change() { changes_.fetch_add(1, std::memory_order_release); }
  // Under the lock: tells the waiting threads something changed.
  void notify() {
    count_change();
    changed_.notify_all();
  }
  // Under the lock: waits for the next change, polling for it first.
  void wait_for_change(std::unique_lock<std::mutex>& guard);
  // Whether a change follows `seen` within a short while. A thread put to
  // sleep is often woken onto the processor of the thread that wakes it,
  // and shares it for milliseconds while its own stands idle: one that
  // expects work soon polls for it instead.
  bool polled_change(uint64_t seen) const;
  // Whether work may come soon: a file is offering chunks, or the run has just started.
  bool work_expected() const;
  int threads_;
  std::atomic<uint64_t> changes_{0};
  std::atomic<int> offering_count_{0};  // offering_.size(), for a look without the lock
  const int64_t started_us_;  // on the steady clock
  // One per thread, on large pages: a thread's first chunk then costs no
  // faults of its own. More only if more threads decode at once.
  std::vector<LargePageBlock> scratch_blocks_;
  std::vector<ChunkScratch*> free_scratch_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<ChunkedStream*> offering_;
  uint64_t wakes_ = 0;
};

// Threads that only ever help with the pool's chunks, until destroyed: for
// a front end whose own thread converts one file at a time.
class ChunkHelpers {
 public:
  ChunkHelpers(ChunkPool& pool, int count);
  ~ChunkHelpers();
  ChunkHelpers(const ChunkHelpers&) = delete;
  ChunkHelpers& operator=(const ChunkHelpers&) = delete;

 private:
  ChunkPool& pool_;
  std::atomic<bool> done_{false};
  std::vector<std::thread> threads_;
};
