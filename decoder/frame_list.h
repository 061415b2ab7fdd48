// A stream's frames found before any is decoded, and their decoding in
// chunks that any thread may take: a long file on every core, written
// byte for byte as in one pass.
//
// Each chunk is decoded with a context of its own. What carries from frame
// to frame is small: a body's rings hold its last 32 blocks of 64 values,
// which its last frame (36 slots) writes whole, and v_offset follows from
// the frame's index. So a chunk first decodes, into nothing, the frame
// before it and the last frame of the other body before that; its rings and
// v_offset are then those of the one pass to the bit.
#pragma once

#include <cstdint>

#include "decoder/frame_header.h"
#include "decoder/synthesis.h"
#include "platform/platform.h"

// A listed frame, as the listing hands it over and as it is read back.
struct FrameEntry {
  int64_t offset;  // of its sync pair in the input
  int32_t length;  // from its sync pair to the next frame
  uint8_t header[4];
};

// How the listing keeps a frame: 8 bytes, so that a day of 48 kHz (3.6
// million frames) stays within a file's memory. Its offset counts from the
// first frame of its run; its length is the one its header gives.
struct ListedFrame {
  uint32_t offset_in_run;
  uint8_t header[3];  // the header's last three bytes: the first is 0xFF
  uint8_t unused;
};
static_assert(sizeof(ListedFrame) == 8, "a listed frame takes 8 bytes");

// Runs of this many frames keep their first frame's offset, and what
// carries into them from the frames before.
constexpr int64_t kFramesPerRun = 256;
struct ListedRun {
  int64_t offset;
  int32_t last_of_body[2];  // the last mono and two-channel frame before the run; -1: none
};

// Whether a frame with this header decodes with the mono body (0) or the
// two-channel one (1).
inline int body_of(const uint8_t* header) { return (header[3] >> 6) == kModeSingleChannel ? 0 : 1; }

// The frames listed so far, read back.
struct FrameStore {
  const ListedFrame* frames;
  const ListedRun* runs;
  int32_t free_format_length;  // the one every free-format frame listed has

  FrameEntry at(int64_t i) const;
  // Its offset and header alone, where the length isn't wanted.
  int64_t offset(int64_t i) const { return runs[i / kFramesPerRun].offset + frames[i].offset_in_run; }
  void header(int64_t i, uint8_t (&into)[4]) const {
    into[0] = 0xFF;
    into[1] = frames[i].header[0];
    into[2] = frames[i].header[1];
    into[3] = frames[i].header[2];
  }
  // Frames back from frame i to the last one of the other body before it; 0: none.
  int64_t other_back(int64_t i) const;
};

// The tags and gaps the search passed over before a listed frame, from the
// start of the input: where the writing ends early, the report counts the
// bytes as far as it came, as the one pass does. Noted only where they grew;
// stuffing, between frames of many a stream, is the rest of what lies
// between the frames.
struct PassedBytes {
  int64_t before_frame;  // the frame these lie before
  int64_t tags;
  int64_t gaps;
  int64_t gap_count;
};

// How the frames found end.
enum class ListEnd {
  EndOfInput,   // the input ends after the last frame, or after what no frame is
  CutShort,     // a frame after the last is cut short by the end of the input
  RateChanged,  // the frame after the last has another sampling frequency
  Interrupted,  // a stop was asked for while the frames were being found
};

// A stream's frames, all listed, as the writer takes them.
struct FrameList {
  FrameStore frames;
  int64_t count;
  int32_t free_format_length;
  bool two_channels;  // some frame has two channels: every frame is written with two
  ListEnd end;
  int32_t next_rate;  // RateChanged: the rate of the frame after the last
};

// Values of PCM one frame may need: 1152 sample frames of two channels.
constexpr int kFramePcmValues = 2304;

// What decoding a chunk gives, in storage of the caller's: each frame's
// PCM at kFramePcmValues apart, its count of values, and its checks.
struct ChunkOutput {
  int16_t* pcm;
  uint16_t* values;
  uint8_t* flags;  // kRanOut, kCrcError
  int read_error;  // the system's number when reading the input failed; 0
};
constexpr uint8_t kRanOut = 1;    // the body wanted bits past the end of the input: not written
constexpr uint8_t kCrcError = 2;  // the CRC word doesn't match

// What decoding any chunk of a stream needs. The entries stay where they
// are while more are appended behind them.
struct ChunkSource {
  FrameStore frames;
  // The free-format length as measured when the chunk's frames were listed
  // (it is measured once, before the first free-format frame is listed).
  int32_t free_format_length;
  FileHandle input;
  int64_t input_size;
  SynthesisPath path;
  // The stream's matrixing coefficients, computed once: each chunk copies them.
  const SynthesisState* matrix;
  bool check_only;  // the frames are read whole, but no PCM is wanted
  // The input's bytes from held_start to held_end, as the listing read them,
  // when it keeps them all (ChunkRunner::held_room): a frame whose reach
  // lies there is decoded from there, not read again. Null: none.
  const uint8_t* held;
  int64_t held_start;
  int64_t held_end;
};

// Input bytes a chunk reads at once; a frame needs its own and
// kLongestFrameRead from its start on, which is what the one pass has
// buffered before it.
constexpr int kChunkWindowBytes = 64 * 1024;

// Where a chunk is decoded: a context of its own and a window on the input.
// Each thread that decodes keeps one for all its chunks, where the caller
// likes: on a fresh stack, its 66 pages would each cost a fault first.
struct ChunkScratch {
  DecoderContext ctx;
  alignas(64) uint8_t window[kChunkWindowBytes];
};

// Reads `wanted` bytes from `offset` on, or up to the end of the input;
// *have tells how many. false when a read failed.
bool read_at_fully(FileHandle input, int64_t offset, uint8_t* into, uint32_t wanted, uint32_t* have);

// Decodes frames first .. first + count - 1 into `out`, reading the input at
// the frames' offsets. A mono frame gives its one channel whatever the
// stream holds besides: the writer doubles it where the file has two.
// 0, or -1 when a read failed.
int decode_chunk(const ChunkSource& source, int64_t first, int64_t count, ChunkOutput& out, ChunkScratch& scratch);

// Where decoded chunks are written, in order, each once: by whichever of
// the runner's threads is free when the next one is decoded, one thread at
// a time, so the writing is never left to one thread that has other work.
struct ChunkSink {
  // Writes chunk k; *releasable: the chunks before it are no longer needed.
  // false: the writing ends here, no more chunks are wanted.
  bool (*write)(void* self, int64_t chunk, const ChunkOutput& out, int64_t* releasable);
  void* self;
};

// The front end's threads, decoding chunks while the frames are still being
// listed, and writing them in order once all are.
struct ChunkRunner {
  // The frames of the input are about to be listed.
  void (*begin)(void* self, const ChunkSource& source);
  // Takes the next frame found, with the free-format length so far and the
  // end of the input's bytes held so far; a chunk may be decoded as soon as
  // its frames are in. false: no room, or a frame the listing can't keep
  // as it is; the stream is decoded in one pass.
  bool (*append)(void* self, const FrameEntry& entry, int32_t free_format_length, int64_t held_end);
  // The frames appended so far, in order.
  FrameStore (*stored)(void* self);
  // The search passed over more tags or gaps before the frame about to be
  // appended. false: no room, the stream is decoded in one pass.
  bool (*passed)(void* self, const PassedBytes& so_far);
  // Those noted so far, in order: *count of them.
  const PassedBytes* (*passed_stored)(void* self, int64_t* count);
  // Every frame is listed: `count` of them, in chunks of chunk_frames, with
  // the free-format length the last ones need.
  void (*listed)(void* self, int64_t count, int32_t free_format_length);
  // Has every chunk decoded and passed to `sink` in order, the calling
  // thread taking its share of both; returns once the sink wants no more,
  // and no thread is in it.
  void (*write_in_order)(void* self, const ChunkSink& sink);
  // No more chunks are wanted; returns when none is being decoded.
  void (*end)(void* self);
  void* self;
  // The listing reads the input read_ahead_bytes at a time: the one pass's
  // small reads cost a system call each. Set by begin: where the input is
  // held, null otherwise.
  uint8_t* read_ahead;
  uint32_t read_ahead_bytes;
  // Set by begin: when not 0, read_ahead has room for this many bytes, the
  // input from where the listing starts (the source's held_start); the
  // listing then reads into it one read after another and never over what
  // it read, so the chunks can decode from those bytes.
  uint32_t held_room;
  // Else the listing takes the input in blocks of read_ahead_bytes from
  // where it starts, which the threads read ahead of it: block k's bytes, or
  // null when reading them failed. Read on the calling thread when none has
  // started it; a block short of read_ahead_bytes is the input's last.
  const uint8_t* (*read_block)(void* self, int64_t block, uint32_t* got);
  // The listing is done with block k and those before it.
  void (*release_block)(void* self, int64_t block);
  int chunk_frames;          // frames per chunk
  // Set by begin: the chunks whose outputs exist at once. Chunk k is decoded
  // only when fewer than this many before it are not released.
  int slots;
  int64_t min_input_bytes;   // smaller inputs are decoded in one pass: the listing costs a read
};
