// The synthesis kernel over eight double lanes (AVX-512F), chosen at run time
// on x86 processors that have it (and BMI2, which every one of them has).
// This unit alone is built with -mavx512f -mbmi2; the kernel's internal
// linkage keeps its code from being shared with units that run without it.
#include "decoder/synthesis_kernels.h"

#include <immintrin.h>

// A fused multiply-add rounds once where the sums round twice. AVX-512F
// brings FMA with it (clang can't take one away without the other), so here
// -ffp-contract=off alone keeps the compiler from fusing; the test of the
// disassembly checks that it didn't.

namespace {

struct Avx512Lanes {
  using Vec = __m512d;
  static constexpr int kWidth = 8;
  // Half the vector registers: 32 on x86-64, 8 on 32-bit x86.
  static constexpr int kAccumulators = sizeof(void*) == 8 ? 16 : 4;
  // Every lane. The unmasked forms of max, min, permute and convert warn
  // falsely in g++ 12 (their "undefined" source); with all lanes set they are
  // the same instructions.
  static constexpr __mmask8 kAll = 0xFF;
  static Vec zero() { return _mm512_setzero_pd(); }
  static Vec set1(double x) { return _mm512_set1_pd(x); }
  static Vec load(const double* p) { return _mm512_load_pd(p); }
  static Vec loadu(const double* p) { return _mm512_loadu_pd(p); }
  static void storeu(double* p, Vec x) { _mm512_storeu_pd(p, x); }
  static Vec add(Vec a, Vec b) { return _mm512_add_pd(a, b); }
  static Vec sub(Vec a, Vec b) { return _mm512_sub_pd(a, b); }
  static Vec mul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
  static uint32_t nonzero_of_six(const double* p) {
    constexpr __mmask8 kSix = 0x3F;
    return _mm512_mask_cmp_pd_mask(kSix, _mm512_maskz_loadu_pd(kSix, p), _mm512_setzero_pd(), _CMP_NEQ_UQ);
  }
#if defined(__x86_64__)
  // The kernel's search for the subbands that sound, eight subbands (48
  // values, six vectors) at a time: bit i of `nonzero` is value 8 v + i's.
  // Values 6 k + s and 6 k + 3 + s are slot s of subband k in the two
  // channels. Only values below 6 * subbands are read.
  static void sounding_subbands(const double* granule, int subbands, uint32_t* sounding) {
    const int values = 6 * subbands;
    uint32_t found[3] = {};
    for (int k = 0; k < subbands; k += 8) {
      uint64_t nonzero = 0;
      for (int v = 0; v < 6; ++v) {
        const int at = 6 * k + 8 * v;
        const int rest = values - at;
        const __mmask8 in_range = rest >= 8 ? 0xFF : rest <= 0 ? 0 : static_cast<__mmask8>((1u << rest) - 1);
        const __mmask8 set = _mm512_mask_cmp_pd_mask(in_range, _mm512_maskz_loadu_pd(in_range, granule + at),
                                                     _mm512_setzero_pd(), _CMP_NEQ_UQ);
        nonzero |= uint64_t{set} << 8 * v;
      }
      nonzero |= nonzero >> 3;  // channel 1's slots onto channel 0's
      for (int slot = 0; slot < 3; ++slot) {
        found[slot] |= static_cast<uint32_t>(_pext_u64(nonzero, 0x041041041041ull << slot)) << k;
      }
    }
    for (int slot = 0; slot < 3; ++slot) sounding[slot] = found[slot];
  }
#endif
  static Vec from_codes(const uint32_t* p) {
    return _mm512_maskz_cvtepi32_pd(kAll, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  static Vec reversed(Vec x) { return _mm512_maskz_permutexvar_pd(kAll, _mm512_set_epi64(0, 1, 2, 3, 4, 5, 6, 7), x); }
  static Vec shift_in(Vec a, Vec b) {
    return _mm512_castsi512_pd(_mm512_maskz_alignr_epi64(kAll, _mm512_castpd_si512(b), _mm512_castpd_si512(a), 7));
  }

  // floor, clipped, in one conversion that rounds toward -infinity: the floor
  // of the clipped value is the clipped floor, the bounds being integers.
  static __m256i floored(Vec scaled) {
    const Vec x = _mm512_maskz_min_pd(kAll, _mm512_maskz_max_pd(kAll, scaled, _mm512_set1_pd(-32768.0)),
                                      _mm512_set1_pd(32767.0));
    return _mm512_maskz_cvt_roundpd_epi32(kAll, x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
  }
  static void store_pcm(Vec scaled, int16_t* out) {
    const __m256i v = floored(scaled);
    const __m128i pcm = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pcm);
  }
  static void store_pcm_pairs(Vec left, Vec right, int16_t* out) {
    const __m256i l = floored(left);
    const __m256i r = floored(right);
    // Within each 128-bit half: l0 r0 l1 r1 and l2 r2 l3 r3, then the same for 4..7.
    const __m256i low = _mm256_unpacklo_epi32(l, r);
    const __m256i high = _mm256_unpackhi_epi32(l, r);
    const __m256i pcm = _mm256_packs_epi32(low, high);  // values 0..3 in the low half, 4..7 in the high
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), pcm);
  }
};

}  // namespace

const SynthesisKernel& avx512_synthesis_kernel() { return SynthesisKernelFor<Avx512Lanes>::kernel; }
