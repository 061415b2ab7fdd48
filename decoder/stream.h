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

// The Layer II table of a frame with this bit rate and mode at ctx.sample_rate.
void choose_alloc_table(DecoderContext& ctx, int32_t bitrate_kbps, int mode);

// The most a frame body can ask of the bit reader, even when damage hands it
// nonsense allocations (30 subbands x 2 channels of 16-bit codes); buffered
// ahead of every frame while input remains.
constexpr int kLongestFrameRead = 4608;
// Below this many valid bytes ahead of the cursor the buffer is topped up.
constexpr int kRefillMargin = 800;
