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

#include "decoder/synthesis.h"
#include "platform/platform.h"

struct FrameEntry {
  int64_t offset;       // of its sync pair in the input
  uint32_t other_back;  // frames back to the last one of the other body; 0: none
  uint16_t length;      // from its sync pair to the next frame
  uint8_t header[4];
};

// Where the search hands each frame it finds: the caller's storage, grown
// as the caller likes. false: no room, the stream is decoded in one pass.
struct FrameSink {
  bool (*append)(void* self, const FrameEntry& entry);
  const FrameEntry* (*stored)(void* self);  // the entries appended so far, in order
  void* self;
};

// How the frames found end.
enum class ListEnd {
  EndOfInput,   // the input ends after the last frame, or after what no frame is
  CutShort,     // a frame after the last is cut short by the end of the input
  RateChanged,  // the frame after the last has another sampling frequency
};

// A stream's frames and what decoding them needs besides.
struct FrameList {
  const FrameEntry* entries;
  int64_t count;
  int32_t free_format_length;
  bool two_channels;  // some frame has two channels: every frame is written with two
  ListEnd end;
  int32_t next_rate;  // RateChanged: the rate of the frame after the last
  // The stream's matrixing coefficients, computed once: each chunk copies them.
  const SynthesisState* matrix;
  bool check_only;  // the frames are read whole, but no PCM is wanted
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

// Decodes frames first .. first + count - 1 of the list into `out`, reading
// the input at the frames' offsets. 0, or -1 when a read failed.
int decode_chunk(const FrameList& list, int64_t first, int64_t count, FileHandle input, int64_t input_size,
                 SynthesisPath path, ChunkOutput& out);

// The front end's threads, decoding chunks ahead of the one that writes
// them. The writer asks for the chunks in order, each once.
struct ChunkRunner {
  // Where the frames go while they are found.
  FrameSink sink;
  // Decode `list` in chunks of `chunk_frames` from now on, reading `input`.
  void (*begin)(void* self, const FrameList* list, int chunk_frames, FileHandle input, int64_t input_size,
                SynthesisPath path);
  // Chunk k decoded (on the calling thread, when no other has started it).
  const ChunkOutput* (*await)(void* self, int64_t chunk);
  // Done with chunk k's output.
  void (*release)(void* self, int64_t chunk);
  // No more chunks are wanted; returns when none is being decoded.
  void (*end)(void* self);
  void* self;
  int chunk_frames;          // frames per chunk
  int64_t min_input_bytes;   // smaller inputs are decoded in one pass: the listing costs a read
};
