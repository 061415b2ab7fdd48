// The synthesis kernel over four double lanes (AVX2), chosen at run time on
// x86 processors that have it. This unit alone is built with -mavx2; the
// kernel's internal linkage keeps its code from being shared with units that
// run without AVX2.
#include "decoder/synthesis_kernels.h"

#include <immintrin.h>

#if defined(__FMA__)
#error "a fused multiply-add rounds once where the sums round twice: build this unit without -mfma"
#endif

namespace {

struct Avx2Lanes {
  using Vec = __m256d;
  static constexpr int kWidth = 4;
  // Half the vector registers: 16 on x86-64, 8 on 32-bit x86.
  static constexpr int kAccumulators = sizeof(void*) == 8 ? 8 : 4;
  static Vec zero() { return _mm256_setzero_pd(); }
  static Vec set1(double x) { return _mm256_set1_pd(x); }
  static Vec load(const double* p) { return _mm256_load_pd(p); }
  static Vec loadu(const double* p) { return _mm256_loadu_pd(p); }
  static void storeu(double* p, Vec x) { _mm256_storeu_pd(p, x); }
  static Vec add(Vec a, Vec b) { return _mm256_add_pd(a, b); }
  static Vec sub(Vec a, Vec b) { return _mm256_sub_pd(a, b); }
  static Vec mul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
  static uint32_t nonzero_of_six(const double* p) {
    const Vec zero = _mm256_setzero_pd();
    const __m128d last = _mm_loadu_pd(p + 4);
    const uint32_t low = static_cast<uint32_t>(_mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(p), zero, _CMP_NEQ_UQ)));
    const uint32_t high = static_cast<uint32_t>(_mm_movemask_pd(_mm_cmpneq_pd(last, _mm_setzero_pd())));
    return low | high << 4;
  }
  static Vec from_codes(const uint32_t* p) { return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))); }
  static Vec reversed(Vec x) { return _mm256_permute4x64_pd(x, 0x1B); }
  static Vec shift_in(Vec a, Vec b) {
    const Vec middle = _mm256_permute2f128_pd(a, b, 0x21);  // a2 a3 b0 b1
    return _mm256_shuffle_pd(middle, b, 0x5);              // a3 b0 b1 b2
  }

  // floor, clipped: the floor of the clipped value is the clipped floor, the
  // bounds being integers, and converting an integer-valued double is exact.
  static __m128i floored(Vec scaled) {
    const Vec x = _mm256_min_pd(_mm256_max_pd(scaled, _mm256_set1_pd(-32768.0)), _mm256_set1_pd(32767.0));
    return _mm256_cvtpd_epi32(_mm256_floor_pd(x));
  }
  static void store_pcm(Vec scaled, int16_t* out) {
    const __m128i v = floored(scaled);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(v, v));
  }
  static void store_pcm_pairs(Vec left, Vec right, int16_t* out) {
    const __m128i l = floored(left);
    const __m128i r = floored(right);
    const __m128i pcm = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pcm);
  }
};

}  // namespace

const SynthesisKernel& avx2_synthesis_kernel() { return SynthesisKernelFor<Avx2Lanes>::kernel; }
