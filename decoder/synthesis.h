// The synthesis filterbank (ISO/IEC 11172-3, 2.4.3.2.2) and the frame's 16-bit PCM.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"

extern const double SynthesisWindow[kWindowLength];
// 3.14159265358979 / 64 as a double: not the double nearest to pi/64.
constexpr double pi_over_64 = 0.04908738521234047;

void build_cos_matrix(DecoderContext& ctx);
void reset_synthesis(DecoderContext& ctx);
void advance_v_offset(DecoderContext& ctx);

// Matrixes one slot's subband samples into the ring at v_offset, windows the
// ring and yields 32 PCM values, oldest first.
void synthesize_channel(DecoderContext& ctx, double* ring, const double* samples, int16_t* pcm);

int16_t to_pcm16(double sample);

void store_mono_slot(DecoderContext& ctx, const int16_t* pcm);
void store_stereo_slot(DecoderContext& ctx, const int16_t* left, const int16_t* right);

// Synthesizes the three slots of the granule in granule_samples into pcm_out.
void synthesize_granule(DecoderContext& ctx);

// Writes the frame's PCM in one write and counts what the write reports.
FrameResult write_frame_pcm(DecoderContext& ctx);
