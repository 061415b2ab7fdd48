// What a conversion tells about its source besides the audio: where every
// byte went, the runs the frame search passed over, and frames whose CRC
// word doesn't match.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"
#include "decoder/demux.h"

// The most 0xFF bytes between frames that are stuffing rather than a gap.
constexpr int kLongestStuffing = 64;

// A run of `length` bytes from `offset` that the search passed over, not a
// tag: stuffing when it is short and all 0xFF, else a gap. It takes the
// container's losses that fall in it.
void note_passed_over(DecoderContext& ctx, int64_t offset, int64_t length, bool all_ff);

// Packets a container lost, kept until the frame or run they fall in is known.
void queue_track_gap(DecoderContext& ctx, const TrackGap& gap);
// The frame written last spans `length` bytes from `offset`: the losses in
// it make it a damaged frame, and what the search passes over right after
// it is part of that gap.
void note_frame_track_gaps(DecoderContext& ctx, int64_t offset, int64_t length);

// The bits a Layer II CRC word covers after the header: each allocation
// code and each scale-factor selection of the frame read last.
int crc_protected_bits(const DecoderContext& ctx);
// CRC-16 (polynomial 0x8005, starting at 0xFFFF) over header bytes 2 and 3
// and the `body_bits` bits after the CRC word, compared with that word.
bool crc_matches(const uint8_t* frame, int body_bits);
// Notes a CRC error in the frame about to be written.
void note_crc_error(DecoderContext& ctx);

// A listed frame whose body ran past the end of the input, which the one
// pass doesn't count: the gaps listed after it come a frame earlier.
void note_frame_not_written(DecoderContext& ctx);

// The gap and CRC lines, up to kListedDamage of each and then a count of
// the rest; nothing for an input without a frame.
void log_damage(const DecoderContext& ctx);
