#include "cli/chunk_pool.h"

#include <algorithm>
#include <chrono>

namespace {

// The listing of a file holds at most this many frames (24 bytes each):
// 6.5 hours of 48 kHz are 975,000. A longer one is decoded in one pass.
constexpr size_t kMostListedFrames = size_t{2} << 20;

}  // namespace

ChunkedStream::ChunkedStream(ChunkPool& pool, int chunk_frames, int64_t min_input_bytes) : pool_(pool) {
  runner_.sink = FrameSink{append, stored, this};
  runner_.begin = begin;
  runner_.await = await;
  runner_.release = release;
  runner_.end = end;
  runner_.self = this;
  runner_.chunk_frames = chunk_frames;
  runner_.min_input_bytes = min_input_bytes;
}

ChunkedStream::~ChunkedStream() { end(this); }

bool ChunkedStream::append(void* self, const FrameEntry& entry) {
  auto& entries = static_cast<ChunkedStream*>(self)->entries_;
  if (entries.size() >= kMostListedFrames) return false;
  entries.push_back(entry);
  return true;
}

const FrameEntry* ChunkedStream::stored(void* self) { return static_cast<ChunkedStream*>(self)->entries_.data(); }

void ChunkedStream::begin(void* self, const FrameList* list, int chunk_frames, FileHandle input, int64_t input_size,
                          SynthesisPath path) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  stream.list_ = list;
  stream.input_ = input;
  stream.input_size_ = input_size;
  stream.path_ = path;
  stream.chunks_ = (list->count + chunk_frames - 1) / chunk_frames;
  // Enough to keep every thread busy while the writer catches up.
  const size_t slots = static_cast<size_t>(std::min(2 * stream.pool_.threads_ + 2, 16));
  stream.slots_.resize(std::min<size_t>(slots, std::max<int64_t>(stream.chunks_, 1)));
  for (Slot& slot : stream.slots_) {
    slot.pcm.resize(static_cast<size_t>(chunk_frames) * kFramePcmValues);
    slot.values.resize(chunk_frames);
    slot.flags.resize(chunk_frames);
    slot.output = ChunkOutput{slot.pcm.data(), slot.values.data(), slot.flags.data(), 0};
  }
  std::lock_guard<std::mutex> guard(stream.pool_.lock_);
  stream.next_ = 0;
  stream.released_ = 0;
  stream.pool_.offering_.push_back(&stream);
  stream.pool_.changed_.notify_all();
}

int64_t ChunkedStream::next_open() const {
  if (next_ >= chunks_ || next_ >= released_ + static_cast<int64_t>(slots_.size())) return -1;
  return next_;
}

void ChunkedStream::decode(int64_t chunk) {
  Slot& slot = slots_[chunk % slots_.size()];
  const int64_t first = chunk * runner_.chunk_frames;
  const int64_t count = std::min<int64_t>(runner_.chunk_frames, list_->count - first);
  decode_chunk(*list_, first, count, input_, input_size_, path_, slot.output);
  std::lock_guard<std::mutex> guard(pool_.lock_);
  slot.chunk = chunk;
  --in_flight_;
  pool_.changed_.notify_all();
}

const ChunkOutput* ChunkedStream::await(void* self, int64_t chunk) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  Slot& slot = stream.slots_[chunk % stream.slots_.size()];
  std::unique_lock<std::mutex> guard(stream.pool_.lock_);
  // The writer decodes too while it waits: the chunk it wants when nobody
  // has it, else the next one open.
  while (slot.chunk != chunk) {
    const int64_t open = stream.next_open();
    if (open < 0) {
      stream.pool_.changed_.wait(guard, [&] { return slot.chunk == chunk || stream.next_open() >= 0; });
      continue;
    }
    ++stream.next_;
    ++stream.in_flight_;
    guard.unlock();
    stream.decode(open);
    guard.lock();
  }
  return &slot.output;
}

void ChunkedStream::release(void* self, int64_t chunk) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  std::lock_guard<std::mutex> guard(stream.pool_.lock_);
  stream.released_ = chunk + 1;
  stream.pool_.changed_.notify_all();
}

void ChunkedStream::end(void* self) {
  ChunkedStream& stream = *static_cast<ChunkedStream*>(self);
  std::unique_lock<std::mutex> guard(stream.pool_.lock_);
  auto& offering = stream.pool_.offering_;
  offering.erase(std::remove(offering.begin(), offering.end(), &stream), offering.end());
  stream.chunks_ = 0;
  stream.pool_.changed_.wait(guard, [&] { return stream.in_flight_ == 0; });
}

bool ChunkPool::help_once() {
  std::unique_lock<std::mutex> guard(lock_);
  for (ChunkedStream* stream : offering_) {
    const int64_t chunk = stream->next_open();
    if (chunk < 0) continue;
    ++stream->next_;
    ++stream->in_flight_;
    guard.unlock();
    stream->decode(chunk);
    return true;
  }
  return false;
}

void ChunkPool::wake_all() {
  std::lock_guard<std::mutex> guard(lock_);
  ++wakes_;
  changed_.notify_all();
}

void ChunkPool::wait_for_work(int timeout_ms) {
  std::unique_lock<std::mutex> guard(lock_);
  const uint64_t wakes = wakes_;
  changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] {
    if (wakes_ != wakes) return true;
    for (const ChunkedStream* stream : offering_) {
      if (stream->next_open() >= 0) return true;
    }
    return false;
  });
}
