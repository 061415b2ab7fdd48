// The decoder's driver: input buffering, the sync search, frame headers and dispatch.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"
#include "platform/platform.h"

// Converts the MP2 stream in `input` into a complete WAV file in `output`
// (both open, the output empty). Returns 0 when the WAV file is complete, -1
// after logging one line on failure.
int decode_stream(LogPane log, FileHandle output, FileHandle input, ProgressBar bar);

// The joint-stereo bound for each mode extension.
extern const int32_t BoundTable[4];

// Exposed for tests: the Layer II table the first frame selects.
void choose_alloc_table(DecoderContext& ctx, int32_t bitrate_kbps, int mode);

// Frames are never longer than this: 384 kbit/s at 32 kHz, padded.
constexpr int kLongestFrame = 1729;
// The most a frame body can ask of the bit reader, even when a false sync
// hands it nonsense allocations (30 subbands x 2 channels of 16-bit codes).
constexpr int kLongestFrameRead = 4608;
// Below this many valid bytes ahead of the cursor the buffer is topped up.
constexpr int kRefillMargin = 800;
