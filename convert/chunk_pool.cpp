#include "convert/chunk_pool.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// The listing of a file holds at most this many frames (8 bytes each): a
// day of 48 kHz is 3,600,000. A longer one is decoded in one pass.
constexpr size_t kMostListedFrames = size_t{4} << 20;
// And a note of a tag or gap passed over (32 bytes each) for every 192
// bytes of input: one before each frame, for frames of 192 bytes and more
// (64 kbit/s at 48 kHz), up to 262,144 notes. A file with more is decoded in
// one pass. A long file's full listing, full notes, slots and blocks read
// ahead take 56 MiB, within its 64.
constexpr size_t kFramesPerPassed = 8;
constexpr size_t kMostPassed = size_t{1} << 18;

// Between two looks of a polling thread: lets a sibling virtual core run.
inline void cpu_pause() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  __asm__ __volatile__("yield");
#endif
}

// A thread that expects work soon polls for this long before it sleeps:
// longer than the wait for a file's first chunk, short enough to cost
// little where nothing comes.
constexpr auto kPolling = std::chrono::microseconds(2000);
// Polling pays where waits are short. After a wait it outlasted, the thread
// sleeps at once until a sleep ends within the polling time again: behind a
// slow disk, every wait for a slot is long.
thread_local bool polling_pays = true;

void note_sleep(std::chrono::steady_clock::time_point since) {
  if (std::chrono::steady_clock::now() - since < kPolling) polling_pays = true;
}

int64_t steady_microseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ChunkSizes chunk_sizes_in_use() {
  ChunkSizes sizes;
  if (const char* frames = getenv("SONDRIK_CHUNK_FRAMES")) sizes.frames = std::max(1, atoi(frames));
  if (const char* bytes = getenv("SONDRIK_CHUNK_MIN_BYTES")) sizes.min_input_bytes = atoll(bytes);
  return sizes;
}

ChunkedStream::ChunkedStream(ChunkPool& pool, int chunk_frames, int64_t min_input_bytes, uint32_t listing_read_bytes,
                             int64_t most_held_bytes)
    : pool_(pool), most_held_bytes_(most_held_bytes) {
  runner_.begin = begin;
  runner_.append = append;
  runner_.stored = stored;
  runner_.passed = passed;
  runner_.passed_stored = passed_stored;
  runner_.listed = listed;
  runner_.write_in_order = write_in_order;
  runner_.end = end;
  runner_.read_block = read_block;
  runner_.release_block = release_block;
  runner_.self = this;
  runner_.read_ahead = nullptr;
  runner_.held_room = 0;
  runner_.read_ahead_bytes = listing_read_bytes;
  runner_.chunk_frames = chunk_frames;
  runner_.slots = 1;
  runner_.min_input_bytes = min_input_bytes;
}

ChunkedStream::~ChunkedStream() { end(this); }

void ChunkedStream::begin(void* self, const ChunkSource& source) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  const int chunk_frames = stream.runner_.chunk_frames;
  // No frame is shorter than the smallest Layer II one (24 bytes) but in a
  // contrived free-format stream, which then goes the one pass.
  const int64_t most = std::min<int64_t>(kMostListedFrames, source.input_size / 24 + 1);
  stream.frames_block_ = large_page_block(static_cast<size_t>(most) * sizeof(ListedFrame));
  stream.frames_ = static_cast<ListedFrame*>(stream.frames_block_.get());
  const size_t runs = static_cast<size_t>(most / kFramesPerRun) + 1;
  stream.runs_block_ = large_page_block(runs * sizeof(ListedRun));
  stream.runs_ = static_cast<ListedRun*>(stream.runs_block_.get());
  stream.frame_count_ = 0;
  stream.frame_room_ = static_cast<size_t>(most);
  stream.last_of_body_[0] = stream.last_of_body_[1] = -1;
  stream.listed_free_format_ = 0;
  stream.passed_room_ = std::min(static_cast<size_t>(most) / kFramesPerPassed, kMostPassed) + 1;
  stream.passed_block_ = large_page_block(stream.passed_room_ * sizeof(PassedBytes));
  stream.passed_ = static_cast<PassedBytes*>(stream.passed_block_.get());
  stream.passed_count_ = 0;
  // Enough to keep every thread busy while the file's thread lists the
  // frames and nothing is written yet, and while the writing catches up: six
  // for two threads left the helper idle for most of the listing. Sixteen
  // of 112 frames are 8 MB on large pages, which keeps a file within its
  // bound.
  const int64_t most_chunks = (most + chunk_frames - 1) / chunk_frames;
  const size_t slots = static_cast<size_t>(std::min<int64_t>(std::min(8 * stream.pool_.threads_, 16), most_chunks));
  stream.slots_.resize(slots);
  stream.runner_.slots = static_cast<int>(slots);
  const size_t slot_values = static_cast<size_t>(chunk_frames) * kFramePcmValues;
  stream.slot_pcm_ = large_page_block(slots * slot_values * sizeof(int16_t));
  int16_t* pcm = static_cast<int16_t*>(stream.slot_pcm_.get());
  for (Slot& slot : stream.slots_) {
    slot.pcm = pcm;
    pcm += slot_values;
    slot.values.reset(new uint16_t[chunk_frames]);
    slot.flags.reset(new uint8_t[chunk_frames]);
    slot.output = ChunkOutput{slot.pcm, slot.values.get(), slot.flags.get(), 0};
    slot.chunk = -1;
  }
  const int64_t unread = source.input_size - source.held_start;
  stream.held_.reset();
  stream.runner_.held_room = 0;
  if (unread > 0 && unread <= stream.most_held_bytes_) {
    stream.held_ = large_page_block(static_cast<size_t>(unread));
    stream.runner_.held_room = static_cast<uint32_t>(unread);
    stream.runner_.read_ahead = static_cast<uint8_t*>(stream.held_.get());
  } else {
    stream.runner_.read_ahead = nullptr;  // the blocks' room is the stream's own
    if (!stream.read_room_) stream.read_room_ = large_page_block(size_t{kReadBlocks} * stream.runner_.read_ahead_bytes);
  }
  // The chunks read through a handle of their own: reads at their places
  // through the listing's handle would cost the listing its read-ahead.
  FileHandle own = kNoFile;
  if (file_open_again(source.input, &own)) stream.own_input_ = own;
  stream.pool_.reserve_scratch();
  // Nor may they share the listing's where that moves its position: then
  // the listing finds no room, and the one pass converts the file.
  if (own == kNoFile && kReadAtMovesPosition) stream.frame_room_ = 0;
  std::lock_guard<std::mutex> guard(stream.pool_.lock_);
  stream.source_ = source;
  if (own != kNoFile) stream.source_.input = own;
  stream.source_.frames = FrameStore{stream.frames_, stream.runs_, 0};
  stream.source_.held = stream.held_.get() != nullptr ? static_cast<const uint8_t*>(stream.held_.get()) : nullptr;
  stream.source_.held_end = source.held_start;
  stream.listing_input_ = source.input;
  stream.listing_start_ = source.held_start;
  stream.reading_ = stream.runner_.held_room == 0;
  for (ReadBlock& block : stream.read_blocks_) block = ReadBlock{};
  stream.next_read_ = 0;
  stream.read_released_ = 0;
  stream.read_end_ = INT64_MAX;
  stream.listed_ = 0;
  stream.free_format_length_ = 0;
  stream.all_listed_ = false;
  stream.chunks_ = 0;
  stream.next_ = 0;
  stream.released_ = 0;
  stream.sink_ = ChunkSink{};
  stream.next_write_ = 0;
  stream.writing_ = false;
  stream.write_over_ = false;
  stream.pool_.offering_.push_back(&stream);
  stream.pool_.offering_count_.store(static_cast<int>(stream.pool_.offering_.size()), std::memory_order_relaxed);
}

bool ChunkedStream::append(void* self, const FrameEntry& entry, int32_t free_format_length, int64_t held_end) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  if (stream.frame_count_ == stream.frame_room_ || !stream.keep(entry, free_format_length)) return false;
  if (stream.frame_count_ % static_cast<size_t>(stream.runner_.chunk_frames) == 0) {
    // A whole chunk more: it may be decoded now.
    bool open = false;
    {
      std::lock_guard<std::mutex> guard(stream.pool_.lock_);
      stream.listed_ = static_cast<int64_t>(stream.frame_count_);
      stream.free_format_length_ = free_format_length;
      stream.source_.frames.free_format_length = stream.listed_free_format_;
      stream.source_.held_end = held_end;
      // Nobody can take it while every slot is full: waking them would only
      // cost system calls, one per chunk of a listing that runs far ahead.
      open = stream.next_open() >= 0;
      if (open) stream.pool_.count_change();
    }
    // Woken with the lock held, a thread would only wait for it again.
    if (open) stream.pool_.changed_.notify_all();
  }
  return true;
}

bool ChunkedStream::keep(const FrameEntry& entry, int32_t free_format_length) {
  const size_t i = frame_count_;
  if (i % kFramesPerRun == 0) runs_[i / kFramesPerRun] = ListedRun{entry.offset, {last_of_body_[0], last_of_body_[1]}};
  const int64_t in_run = entry.offset - runs_[i / kFramesPerRun].offset;
  // Kept only as it will be read back: a run past 4 GiB of input, or a
  // free-format length that changed, is left to the one pass.
  if (in_run < 0 || in_run > UINT32_MAX || entry.header[0] != 0xFF) return false;
  if ((entry.header[2] >> 4) == 0) {
    if (listed_free_format_ == 0) listed_free_format_ = free_format_length;
    if (free_format_length != listed_free_format_) return false;
  }
  if (read_header(free_format_length, entry.header).length != entry.length) return false;
  ListedFrame& frame = frames_[i];
  frame.offset_in_run = static_cast<uint32_t>(in_run);
  memcpy(frame.header, entry.header + 1, sizeof frame.header);
  frame.unused = 0;
  last_of_body_[body_of(entry.header)] = static_cast<int32_t>(i);
  frame_count_ = i + 1;
  return true;
}

FrameStore ChunkedStream::stored(void* self) {
  const ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  return FrameStore{stream.frames_, stream.runs_, stream.listed_free_format_};
}

bool ChunkedStream::passed(void* self, const PassedBytes& so_far) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  if (stream.passed_count_ == stream.passed_room_) return false;
  stream.passed_[stream.passed_count_++] = so_far;
  return true;
}

const PassedBytes* ChunkedStream::passed_stored(void* self, int64_t* count) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  *count = static_cast<int64_t>(stream.passed_count_);
  return stream.passed_;
}

void ChunkedStream::listed(void* self, int64_t count, int32_t free_format_length) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  std::lock_guard<std::mutex> guard(stream.pool_.lock_);
  stream.listed_ = count;
  stream.reading_ = false;
  // A last chunk short of a whole one may hold the first free-format frames.
  stream.free_format_length_ = free_format_length;
  stream.source_.frames.free_format_length = stream.listed_free_format_;
  stream.all_listed_ = true;
  stream.chunks_ = (count + stream.runner_.chunk_frames - 1) / stream.runner_.chunk_frames;
  stream.pool_.notify();
}

int64_t ChunkedStream::next_open() const {
  if (write_over_ || next_ >= released_ + static_cast<int64_t>(slots_.size())) return -1;
  const int64_t ready = all_listed_ ? chunks_ : listed_ / runner_.chunk_frames;
  return next_ < ready ? next_ : -1;
}

ChunkedStream::Taken ChunkedStream::take() {
  Taken taken;
  taken.chunk = next_++;
  ++in_flight_;
  taken.source = source_;
  taken.source.free_format_length = free_format_length_;
  const int64_t first = taken.chunk * runner_.chunk_frames;
  taken.count = std::min<int64_t>(runner_.chunk_frames, listed_ - first);
  taken.scratch = pool_.take_scratch();
  return taken;
}

void ChunkedStream::decode(const Taken& taken, std::unique_lock<std::mutex>& guard) {
  Slot& slot = slots_[taken.chunk % slots_.size()];
  decode_chunk(taken.source, taken.chunk * runner_.chunk_frames, taken.count, slot.output, *taken.scratch);
  guard.lock();
  pool_.give_back(taken.scratch);
  slot.chunk = taken.chunk;
  --in_flight_;
  pool_.notify();
  // Written at once by the thread that decoded it, when it is the next.
  if (write_open()) write_ready(guard);
}

bool ChunkedStream::write_open() const {
  return sink_.write != nullptr && !writing_ && !write_over_ && next_write_ < chunks_ &&
         slots_[next_write_ % slots_.size()].chunk == next_write_;
}

void ChunkedStream::write_ready(std::unique_lock<std::mutex>& guard) {
  writing_ = true;
  do {
    const int64_t chunk = next_write_;
    const ChunkOutput& out = slots_[chunk % slots_.size()].output;
    const ChunkSink sink = sink_;
    guard.unlock();
    int64_t releasable = 0;
    const bool more = sink.write(sink.self, chunk, out, &releasable);
    guard.lock();
    next_write_ = chunk + 1;
    released_ = std::max(released_, releasable);
    if (!more || next_write_ >= chunks_) write_over_ = true;
  } while (!write_over_ && slots_[next_write_ % slots_.size()].chunk == next_write_);
  writing_ = false;
  pool_.notify();
}

void ChunkedStream::write_in_order(void* self, const ChunkSink& sink) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  std::unique_lock<std::mutex> guard(stream.pool_.lock_);
  stream.sink_ = sink;
  stream.write_over_ = stream.chunks_ == 0;
  // The conversion's own thread writes and decodes like any other, until
  // the sink wants no more and whoever was in it has left.
  while (!stream.write_over_ || stream.writing_) {
    if (stream.write_open()) {
      stream.write_ready(guard);
    } else if (stream.next_open() >= 0) {
      const Taken taken = stream.take();
      guard.unlock();
      stream.decode(taken, guard);
    } else {
      stream.pool_.wait_for_change(guard);
    }
  }
  stream.sink_ = ChunkSink{};
}

void ChunkedStream::end(void* self) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  std::unique_lock<std::mutex> guard(stream.pool_.lock_);
  auto& offering = stream.pool_.offering_;
  offering.erase(std::remove(offering.begin(), offering.end(), &stream), offering.end());
  stream.pool_.offering_count_.store(static_cast<int>(offering.size()), std::memory_order_relaxed);
  stream.all_listed_ = true;
  stream.chunks_ = 0;
  stream.reading_ = false;
  stream.pool_.changed_.wait(guard, [&] { return stream.in_flight_ == 0; });
  stream.held_.reset();
  if (stream.own_input_ != kNoFile) {
    file_close(stream.own_input_);
    stream.own_input_ = kNoFile;
  }
}

bool ChunkedStream::read_open() const {
  return reading_ && next_read_ < read_released_ + kReadBlocks && next_read_ < read_end_;
}

void ChunkedStream::read(int64_t block) {
  const uint32_t size = runner_.read_ahead_bytes;
  uint8_t* room = static_cast<uint8_t*>(read_room_.get()) + static_cast<size_t>(block % kReadBlocks) * size;
  const int64_t offset = listing_start_ + block * size;
  // The listing ends where the input did when it was opened, grown since or not.
  const int64_t left = source_.input_size - offset;
  const uint32_t wanted = left < size ? static_cast<uint32_t>(left > 0 ? left : 0) : size;
  uint32_t have = 0;
  const bool failed = !read_at_fully(listing_input_, offset, room, wanted, &have);
  std::lock_guard<std::mutex> guard(pool_.lock_);
  read_blocks_[block % kReadBlocks] = ReadBlock{block, have, failed};
  // What follows a short block is not the input's: it ends there.
  if ((failed || have < size) && block + 1 < read_end_) read_end_ = block + 1;
  --in_flight_;
  pool_.notify();
}

const uint8_t* ChunkedStream::read_block(void* self, int64_t block, uint32_t* got) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  const ReadBlock& ready = stream.read_blocks_[block % kReadBlocks];
  std::unique_lock<std::mutex> guard(stream.pool_.lock_);
  for (;;) {
    // A block past a short one is not read on from there, even if read
    // after the input grew: nothing is listed from it.
    if (block >= stream.read_end_) {
      *got = 0;
      return static_cast<const uint8_t*>(stream.read_room_.get());
    }
    if (ready.block == block) break;
    if (stream.next_read_ == block) {
      // Nobody has started it: the listing reads it itself.
      ++stream.next_read_;
      ++stream.in_flight_;
      guard.unlock();
      stream.read(block);
      guard.lock();
      continue;
    }
    stream.pool_.wait_for_change(guard);
  }
  *got = ready.got;
  if (ready.failed) return nullptr;
  return static_cast<const uint8_t*>(stream.read_room_.get()) +
         static_cast<size_t>(block % kReadBlocks) * stream.runner_.read_ahead_bytes;
}

void ChunkedStream::release_block(void* self, int64_t block) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  std::lock_guard<std::mutex> guard(stream.pool_.lock_);
  stream.read_released_ = block + 1;
  // The helpers read half the blocks at a time: a wake per block would cost
  // the listing a system call each.
  if (stream.next_read_ - stream.read_released_ <= kReadBlocks / 2 && stream.read_open()) {
    stream.pool_.notify();
  }
}

void ChunkPool::reserve_scratch() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!scratch_blocks_.empty()) return;
  }
  const size_t count = static_cast<size_t>(std::max(threads_, 1));
  LargePageBlock block = large_page_block(count * sizeof(ChunkScratch));
  std::lock_guard<std::mutex> guard(lock_);
  if (!scratch_blocks_.empty()) return;  // another file's thread made it meanwhile
  free_scratch_.reserve(count);
  ChunkScratch* scratch = static_cast<ChunkScratch*>(block.get());
  for (size_t i = 0; i < count; ++i) free_scratch_.push_back(scratch + i);
  scratch_blocks_.push_back(std::move(block));
}

ChunkScratch* ChunkPool::take_scratch() {
  // The first threads' room is reserved before any chunk is offered; one
  // more only if more threads decode at once.
  if (free_scratch_.empty()) {
    scratch_blocks_.push_back(large_page_block(sizeof(ChunkScratch)));
    free_scratch_.push_back(static_cast<ChunkScratch*>(scratch_blocks_.back().get()));
  }
  ChunkScratch* scratch = free_scratch_.back();
  free_scratch_.pop_back();
  return scratch;
}

bool ChunkPool::help_once() {
  std::unique_lock<std::mutex> guard(lock_);
  // The listing waits for its blocks, and they are quick to read.
  for (ChunkedStream* stream : offering_) {
    if (!stream->read_open()) continue;
    const int64_t block = stream->next_read_++;
    ++stream->in_flight_;
    guard.unlock();
    stream->read(block);
    return true;
  }
  for (ChunkedStream* stream : offering_) {
    if (!stream->write_open()) continue;
    stream->write_ready(guard);
    return true;
  }
  for (ChunkedStream* stream : offering_) {
    if (stream->next_open() < 0) continue;
    const ChunkedStream::Taken taken = stream->take();
    guard.unlock();
    stream->decode(taken, guard);
    return true;
  }
  return false;
}

void ChunkPool::wake_all() {
  std::lock_guard<std::mutex> guard(lock_);
  ++wakes_;
  notify();
}

ChunkPool::ChunkPool(int threads) : threads_(threads), started_us_(steady_microseconds()) {}

bool ChunkPool::work_expected() const {
  // The run's first file, if it is to be chunked, offers its first chunk
  // within a millisecond or two of the start.
  constexpr int64_t kStartingUs = 10000;
  return offering_count_.load(std::memory_order_relaxed) > 0 || steady_microseconds() - started_us_ < kStartingUs;
}

bool ChunkPool::polled_change(uint64_t seen) const {
  if (!polling_pays) return false;
  const auto until = std::chrono::steady_clock::now() + kPolling;
  do {
    for (int i = 0; i < 64; ++i) {
      if (changes_.load(std::memory_order_acquire) != seen) return true;
      cpu_pause();
    }
  } while (std::chrono::steady_clock::now() < until);
  polling_pays = false;
  return false;
}

void ChunkPool::wait_for_change(std::unique_lock<std::mutex>& guard) {
  const uint64_t seen = changes_.load(std::memory_order_relaxed);
  guard.unlock();
  const bool changed = polled_change(seen);
  guard.lock();
  if (changed) return;
  const auto since = std::chrono::steady_clock::now();
  changed_.wait(guard, [&] { return changes_.load(std::memory_order_relaxed) != seen; });
  note_sleep(since);
}

void ChunkPool::wait_for_work(int timeout_ms) {
  if (work_expected() && polled_change(changes_.load(std::memory_order_acquire))) return;
  const auto since = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> guard(lock_);
  const uint64_t wakes = wakes_;
  changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] {
    if (wakes_ != wakes) return true;
    for (const ChunkedStream* stream : offering_) {
      if (stream->next_open() >= 0 || stream->read_open() || stream->write_open()) return true;
    }
    return false;
  });
  note_sleep(since);
}

ChunkHelpers::ChunkHelpers(ChunkPool& pool, int count) : pool_(pool) {
  for (int i = 0; i < count; ++i) {
    threads_.emplace_back([this] {
      while (!done_) {
        if (!pool_.help_once()) pool_.wait_for_work(20);
      }
    });
  }
}

ChunkHelpers::~ChunkHelpers() {
  done_ = true;
  pool_.wake_all();
  for (std::thread& thread : threads_) thread.join();
}
