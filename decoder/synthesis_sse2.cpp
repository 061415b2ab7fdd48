// The synthesis with two double lanes (SSE2, also the 32-bit Windows build's
// baseline). Lanes carry independent rows or outputs; each value gets the
// same multiplications and additions in the same order as the plain sums.
#include "decoder/synthesis.h"
#include "decoder/synthesis_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

// Sums kept in registers per pass: 32-bit x86 has only eight vector registers.
constexpr int kLanePairs = sizeof(void*) == 8 ? 8 : 4;

// `count` rows (a multiple of 2 * kLanePairs) of the laid-out columns, from row `first`.
void matrix_rows(const DecoderContext& ctx, const double* samples, int stride, int subbands, int first, int count,
                 double* sums) {
  for (int base = first; base < first + count; base += 2 * kLanePairs) {
    __m128d acc[kLanePairs];
    for (int q = 0; q < kLanePairs; ++q) acc[q] = _mm_setzero_pd();
    for (int k = 0; k < subbands; ++k) {
      const double* column = ctx.matrix_columns[k] + base;
      const __m128d s = _mm_set1_pd(samples[k * stride]);
#pragma GCC unroll 8
      for (int q = 0; q < kLanePairs; ++q) acc[q] = _mm_add_pd(acc[q], _mm_mul_pd(_mm_load_pd(column + 2 * q), s));
    }
    for (int q = 0; q < kLanePairs; ++q) _mm_storeu_pd(sums + base - first + 2 * q, acc[q]);
  }
}

inline __m128d reversed(__m128d x) { return _mm_shuffle_pd(x, x, 1); }

// Four values, clipped to the 16-bit range and floored: clipping first keeps
// the truncating conversion in range, and the floor of the clipped value is
// the clipped floor.
__m128i to_pcm_lanes(__m128d a, __m128d b) {
  const __m128d scale = _mm_set1_pd(32768.0);
  const __m128d half = _mm_set1_pd(0.5);
  const __m128d low = _mm_set1_pd(-32768.0);
  const __m128d high = _mm_set1_pd(32767.0);
  const __m128d one = _mm_set1_pd(1.0);
  __m128i parts[2];
  const __m128d values[2] = {a, b};
  for (int h = 0; h < 2; ++h) {
    __m128d x = _mm_add_pd(_mm_mul_pd(values[h], scale), half);
    x = _mm_min_pd(_mm_max_pd(x, low), high);
    const __m128i truncated = _mm_cvttpd_epi32(x);
    const __m128d back = _mm_cvtepi32_pd(truncated);
    // Truncation went up for negative non-integers: one less is the floor.
    const __m128d floored = _mm_sub_pd(back, _mm_and_pd(_mm_cmpgt_pd(back, x), one));
    parts[h] = _mm_cvtpd_epi32(floored);
  }
  return _mm_unpacklo_epi64(parts[0], parts[1]);
}

}  // namespace

void matrix_sse2(const DecoderContext& ctx, const double* samples, int stride, int subbands, double* block) {
  if (ctx.computed_rows == kMatrixRows) {
    matrix_rows(ctx, samples, stride, subbands, 0, kMatrixRows, block);
    return;
  }
  alignas(16) double sums[kComputedRowsSymmetric];
  matrix_rows(ctx, samples, stride, subbands, 0, kComputedRowsSymmetric, sums);
  const __m128d zero = _mm_setzero_pd();
  for (int p = 0; p < 8; ++p) {
    const __m128d low_rows = _mm_load_pd(sums + 2 * p);        // rows 2p, 2p + 1
    const __m128d high_rows = _mm_load_pd(sums + 16 + 2 * p);  // rows 33 + 2p, 34 + 2p
    _mm_storeu_pd(block + 2 * p, low_rows);
    // Rows 32 - i are rows i negated; 0.0 - x keeps a zero sum +0.0 as computed.
    _mm_storeu_pd(block + 31 - 2 * p, reversed(_mm_sub_pd(zero, low_rows)));
    _mm_storeu_pd(block + 33 + 2 * p, high_rows);
    // Rows 48 + j copy rows 48 - j; the pair of p = 7 rewrites row 48 itself.
    _mm_storeu_pd(block + 62 - 2 * p, reversed(high_rows));
  }
  block[16] = 0.0;
}

void window_sse2(const double* ring, int v_offset, int16_t* pcm) {
  for (int base = 0; base < 32; base += 2 * kLanePairs) {
    __m128d acc[kLanePairs];
    for (int q = 0; q < kLanePairs; ++q) acc[q] = _mm_setzero_pd();
    for (int i = 0; i < 16; ++i) {
      const double* run = ring + window_run_start(v_offset, i) + base;
      const double* d = SynthesisWindow + 32 * i + base;
#pragma GCC unroll 8
      for (int q = 0; q < kLanePairs; ++q) {
        acc[q] = _mm_add_pd(acc[q], _mm_mul_pd(_mm_load_pd(d + 2 * q), _mm_loadu_pd(run + 2 * q)));
      }
    }
    for (int q = 0; q < kLanePairs; q += 4) {
      const __m128i low = to_pcm_lanes(acc[q], acc[q + 1]);
      const __m128i high = to_pcm_lanes(acc[q + 2], acc[q + 3]);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + base + 2 * q), _mm_packs_epi32(low, high));
    }
  }
}

#endif  // __SSE2__
