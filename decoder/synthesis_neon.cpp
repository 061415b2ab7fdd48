// The synthesis kernel over two double lanes (NEON), on every aarch64 processor.
#include "decoder/synthesis_kernels.h"

#if defined(__aarch64__)
#include <arm_neon.h>

namespace {

struct NeonLanes {
  using Vec = float64x2_t;
  static constexpr int kWidth = 2;
  // Half the 32 vector registers.
  static constexpr int kAccumulators = 16;
  static Vec zero() { return vdupq_n_f64(0.0); }
  static Vec set1(double x) { return vdupq_n_f64(x); }
  static Vec load(const double* p) { return vld1q_f64(p); }
  static Vec loadu(const double* p) { return vld1q_f64(p); }
  static void storeu(double* p, Vec x) { vst1q_f64(p, x); }
  static Vec add(Vec a, Vec b) { return vaddq_f64(a, b); }
  static Vec sub(Vec a, Vec b) { return vsubq_f64(a, b); }
  static Vec mul(Vec a, Vec b) { return vmulq_f64(a, b); }
  static uint32_t nonzero_of_six(const double* p) {
    uint32_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= static_cast<uint32_t>(p[i] != 0.0) << i;
    return bits;
  }
  static Vec from_codes(const uint32_t* p) { return vcvtq_f64_s64(vmovl_s32(vreinterpret_s32_u32(vld1_u32(p)))); }
  static Vec reversed(Vec x) { return vextq_f64(x, x, 1); }
  static Vec shift_in(Vec a, Vec b) { return vextq_f64(a, b, 1); }

  // One conversion that rounds toward -infinity, then two narrowings that
  // saturate: the clipped floor, as the saturation bounds are the 16-bit range.
  static int32x2_t floored(Vec scaled) { return vqmovn_s64(vcvtmq_s64_f64(scaled)); }
  static void store_pcm(Vec scaled, int16_t* out) {
    const int32x2_t v = floored(scaled);
    const int16x4_t pcm = vqmovn_s32(vcombine_s32(v, v));
    vst1_lane_s32(reinterpret_cast<int32_t*>(out), vreinterpret_s32_s16(pcm), 0);
  }
  static void store_pcm_pairs(Vec left, Vec right, int16_t* out) {
    const int32x2_t l = floored(left);
    const int32x2_t r = floored(right);
    vst1_s16(out, vqmovn_s32(vcombine_s32(vzip1_s32(l, r), vzip2_s32(l, r))));
  }
};

}  // namespace

const SynthesisKernel& neon_synthesis_kernel() { return SynthesisKernelFor<NeonLanes>::kernel; }

#endif  // __aarch64__
