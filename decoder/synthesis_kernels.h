// The vector kernels of the synthesis, one translation unit per instruction
// set, and what they share with the scalar code.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"

// With the symmetries, 32 rows are computed: rows 0..15 and 33..48, in that
// order in each matrix column. Row 16 is zero, rows 17..32 are rows 15..0
// negated and rows 49..63 copy rows 47..33.
constexpr int kComputedRowsSymmetric = 32;

// Start of the i-th run of 32 ring entries that the window reads (i = 0..15):
// the standard's U vector takes the first half of every other block of 64 and
// the second half of the blocks between them. Static, so that the AVX2 unit's
// copy can never stand in for the one other units call.
static inline int window_run_start(int v_offset, int i) {
  return (v_offset + 64 * i + 32 * (i & 1)) & (kRingLength - 1);
}

// Matrixing: the 64 new ring entries at `block` from one slot's samples, the
// sample of subband k at samples[k * stride], summing subbands 0 .. subbands - 1.
// Windowing: the 32 PCM values of the ring as it stands at `v_offset`.
void matrix_sse2(const DecoderContext& ctx, const double* samples, int stride, int subbands, double* block);
void window_sse2(const double* ring, int v_offset, int16_t* pcm);
void matrix_avx2(const DecoderContext& ctx, const double* samples, int stride, int subbands, double* block);
void window_avx2(const double* ring, int v_offset, int16_t* pcm);
