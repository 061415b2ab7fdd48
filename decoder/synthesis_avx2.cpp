// The synthesis with four double lanes (AVX2), chosen at run time on x86-64
// processors that have it. Lanes carry independent rows or outputs; each value
// gets the same multiplications and additions in the same order as the plain
// sums. Only intrinsics and this file's own functions are used here, so no
// function compiled for AVX2 can be shared with code that runs without it.
#include <immintrin.h>

#include "decoder/synthesis.h"
#include "decoder/synthesis_kernels.h"

#if defined(__FMA__)
#error "a fused multiply-add rounds once where the sums round twice: build this unit without -mfma"
#endif

namespace {

// 32 rows of the laid-out columns, from row `first`, into `sums`. Eight named
// sums: kept in an array, they were written back to memory on every step.
void matrix_rows(const DecoderContext& ctx, const double* samples, int stride, int subbands, int first,
                 double* sums) {
  __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0, a7 = a0;
  for (int k = 0; k < subbands; ++k) {
    const double* c = ctx.matrix_columns[k] + first;
    const __m256d s = _mm256_broadcast_sd(samples + k * stride);
    a0 = _mm256_add_pd(a0, _mm256_mul_pd(_mm256_load_pd(c), s));
    a1 = _mm256_add_pd(a1, _mm256_mul_pd(_mm256_load_pd(c + 4), s));
    a2 = _mm256_add_pd(a2, _mm256_mul_pd(_mm256_load_pd(c + 8), s));
    a3 = _mm256_add_pd(a3, _mm256_mul_pd(_mm256_load_pd(c + 12), s));
    a4 = _mm256_add_pd(a4, _mm256_mul_pd(_mm256_load_pd(c + 16), s));
    a5 = _mm256_add_pd(a5, _mm256_mul_pd(_mm256_load_pd(c + 20), s));
    a6 = _mm256_add_pd(a6, _mm256_mul_pd(_mm256_load_pd(c + 24), s));
    a7 = _mm256_add_pd(a7, _mm256_mul_pd(_mm256_load_pd(c + 28), s));
  }
  _mm256_storeu_pd(sums, a0);
  _mm256_storeu_pd(sums + 4, a1);
  _mm256_storeu_pd(sums + 8, a2);
  _mm256_storeu_pd(sums + 12, a3);
  _mm256_storeu_pd(sums + 16, a4);
  _mm256_storeu_pd(sums + 20, a5);
  _mm256_storeu_pd(sums + 24, a6);
  _mm256_storeu_pd(sums + 28, a7);
}

inline __m256d reversed(__m256d x) { return _mm256_permute4x64_pd(x, 0x1B); }

// Eight values, clipped to the 16-bit range and floored; the floor of the
// clipped value is the clipped floor.
__m128i to_pcm_lanes(__m256d a, __m256d b) {
  const __m256d scale = _mm256_set1_pd(32768.0);
  const __m256d half = _mm256_set1_pd(0.5);
  const __m256d low = _mm256_set1_pd(-32768.0);
  const __m256d high = _mm256_set1_pd(32767.0);
  __m256d x = _mm256_add_pd(_mm256_mul_pd(a, scale), half);
  __m256d y = _mm256_add_pd(_mm256_mul_pd(b, scale), half);
  x = _mm256_floor_pd(_mm256_min_pd(_mm256_max_pd(x, low), high));
  y = _mm256_floor_pd(_mm256_min_pd(_mm256_max_pd(y, low), high));
  return _mm_packs_epi32(_mm256_cvtpd_epi32(x), _mm256_cvtpd_epi32(y));
}

}  // namespace

void matrix_avx2(const DecoderContext& ctx, const double* samples, int stride, int subbands, double* block) {
  if (ctx.computed_rows == kMatrixRows) {
    matrix_rows(ctx, samples, stride, subbands, 0, block);
    matrix_rows(ctx, samples, stride, subbands, 32, block + 32);
    return;
  }
  alignas(32) double sums[kComputedRowsSymmetric];
  matrix_rows(ctx, samples, stride, subbands, 0, sums);
  const __m256d zero = _mm256_setzero_pd();
  for (int q = 0; q < 4; ++q) {
    const __m256d low_rows = _mm256_load_pd(sums + 4 * q);        // rows 4q .. 4q + 3
    const __m256d high_rows = _mm256_load_pd(sums + 16 + 4 * q);  // rows 33 + 4q .. 36 + 4q
    _mm256_storeu_pd(block + 4 * q, low_rows);
    // Rows 32 - i are rows i negated; 0.0 - x keeps a zero sum +0.0 as computed.
    _mm256_storeu_pd(block + 29 - 4 * q, reversed(_mm256_sub_pd(zero, low_rows)));
    _mm256_storeu_pd(block + 33 + 4 * q, high_rows);
    // Rows 48 + j copy rows 48 - j; the vector of q = 3 rewrites row 48 itself.
    _mm256_storeu_pd(block + 60 - 4 * q, reversed(high_rows));
  }
  block[16] = 0.0;
}

void window_avx2(const double* ring, int v_offset, int16_t* pcm) {
  __m256d acc[8];
  for (int q = 0; q < 8; ++q) acc[q] = _mm256_setzero_pd();
  // Unrolled, the run starts are v_offset plus constants.
#pragma GCC unroll 16
  for (int i = 0; i < 16; ++i) {
    const double* run = ring + window_run_start(v_offset, i);
    const double* d = SynthesisWindow + 32 * i;
#pragma GCC unroll 8
    for (int q = 0; q < 8; ++q) {
      acc[q] = _mm256_add_pd(acc[q], _mm256_mul_pd(_mm256_load_pd(d + 4 * q), _mm256_loadu_pd(run + 4 * q)));
    }
  }
  for (int q = 0; q < 8; q += 2) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + 4 * q), to_pcm_lanes(acc[q], acc[q + 1]));
  }
}
