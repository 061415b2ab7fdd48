// The synthesis kernel over two double lanes (SSE2): every x86-64 processor,
// and the 32-bit Windows build's baseline.
#include "decoder/synthesis_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

struct Sse2Lanes {
  using Vec = __m128d;
  static constexpr int kWidth = 2;
  // Half the vector registers: 16 on x86-64, 8 on 32-bit x86.
  static constexpr int kAccumulators = sizeof(void*) == 8 ? 8 : 4;
  static Vec zero() { return _mm_setzero_pd(); }
  static Vec set1(double x) { return _mm_set1_pd(x); }
  static Vec load(const double* p) { return _mm_load_pd(p); }
  static Vec loadu(const double* p) { return _mm_loadu_pd(p); }
  static void storeu(double* p, Vec x) { _mm_storeu_pd(p, x); }
  static Vec add(Vec a, Vec b) { return _mm_add_pd(a, b); }
  static Vec sub(Vec a, Vec b) { return _mm_sub_pd(a, b); }
  static Vec mul(Vec a, Vec b) { return _mm_mul_pd(a, b); }
  static uint32_t nonzero_of_six(const double* p) {
    const Vec zero = _mm_setzero_pd();
    uint32_t bits = 0;
    for (int i = 0; i < 3; ++i) bits |= static_cast<uint32_t>(_mm_movemask_pd(_mm_cmpneq_pd(_mm_loadu_pd(p + 2 * i), zero))) << 2 * i;
    return bits;
  }
  static Vec from_codes(const uint32_t* p) { return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))); }
  static Vec reversed(Vec x) { return _mm_shuffle_pd(x, x, 1); }
  static Vec shift_in(Vec a, Vec b) { return _mm_shuffle_pd(a, b, 1); }

  // floor, clipped, in the two low 32-bit lanes. SSE2 has no floor: clipping
  // first keeps the truncating conversion in range, truncation rounds toward
  // zero, and one less where it went up (negative non-integers) is the floor.
  // The floor of the clipped value is the clipped floor, the bounds being integers.
  static __m128i floored(Vec scaled) {
    const Vec x = _mm_min_pd(_mm_max_pd(scaled, _mm_set1_pd(-32768.0)), _mm_set1_pd(32767.0));
    const __m128i truncated = _mm_cvttpd_epi32(x);
    const Vec back = _mm_cvtepi32_pd(truncated);
    const __m128i went_up = _mm_castpd_si128(_mm_cmpgt_pd(back, x));  // all ones per lane: -1
    return _mm_add_epi32(truncated, _mm_shuffle_epi32(went_up, _MM_SHUFFLE(3, 3, 2, 0)));
  }
  static void store_pcm(Vec scaled, int16_t* out) {
    const __m128i v = floored(scaled);
    const int32_t packed = _mm_cvtsi128_si32(_mm_packs_epi32(v, v));
    __builtin_memcpy(out, &packed, sizeof packed);
  }
  static void store_pcm_pairs(Vec left, Vec right, int16_t* out) {
    const __m128i pairs = _mm_unpacklo_epi32(floored(left), floored(right));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(pairs, pairs));
  }
};

}  // namespace

const SynthesisKernel& sse2_synthesis_kernel() { return SynthesisKernelFor<Sse2Lanes>::kernel; }

#endif  // __SSE2__
