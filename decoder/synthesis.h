// The synthesis filterbank (ISO/IEC 11172-3, 2.4.3.2.2) and the frame's 16-bit PCM.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"

// Aligned for the vector kernels.
alignas(32) extern const double SynthesisWindow[kWindowLength];
// 3.14159265358979 / 64 as a double: not the double nearest to pi/64.
constexpr double pi_over_64 = 0.04908738521234047;

// Computes the coefficients and lays them out for the fast paths.
void build_cos_matrix(DecoderContext& ctx);
// Lays cos_matrix out for the fast paths. A symmetry is used only if the
// computed coefficients have it exactly, so that a negated or copied sum is the
// sum the standard's order of additions would give.
void lay_out_cos_matrix(DecoderContext& ctx);
void reset_synthesis(DecoderContext& ctx);
void advance_v_offset(DecoderContext& ctx);

// Matrixes one slot's subband samples into the ring at v_offset, windows the
// ring and yields 32 PCM values, oldest first.
void synthesize_channel(DecoderContext& ctx, double* ring, const double* samples, int16_t* pcm);

int16_t to_pcm16(double sample);

// Ways to compute the same synthesis; every one writes the same bytes. Direct
// is the sums as written, the yardstick the others are tested against; Scalar
// uses the matrix's symmetries without vector instructions; Sse2 and Avx2 add
// vector lanes that carry independent rows or outputs.
enum class SynthesisPath { Direct, Scalar, Sse2, Avx2 };
bool synthesis_path_available(SynthesisPath path);
// Process-wide, like the bit reader. Starts as the fastest path this processor
// runs; an unavailable path is refused and the current one kept.
void use_synthesis_path(SynthesisPath path);
SynthesisPath synthesis_path_in_use();

void store_mono_slot(DecoderContext& ctx, const int16_t* pcm);
void store_stereo_slot(DecoderContext& ctx, const int16_t* left, const int16_t* right);

// Synthesizes the three slots of the granule in granule_samples into pcm_out.
void synthesize_granule(DecoderContext& ctx);
