// The synthesis kernel one double wide: the path of processors without the
// vector units below, and the one every build has.
#include "decoder/synthesis_kernels.h"

namespace {

struct ScalarLanes {
  using Vec = double;
  static constexpr int kWidth = 1;
  static constexpr int kAccumulators = 8;
  static Vec zero() { return 0.0; }
  static Vec set1(double x) { return x; }
  static Vec load(const double* p) { return *p; }
  static Vec loadu(const double* p) { return *p; }
  static void storeu(double* p, Vec x) { *p = x; }
  static Vec add(Vec a, Vec b) { return a + b; }
  static Vec sub(Vec a, Vec b) { return a - b; }
  static Vec mul(Vec a, Vec b) { return a * b; }
  static uint32_t nonzero_of_six(const double* p) {
    uint32_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= static_cast<uint32_t>(p[i] != 0.0) << i;
    return bits;
  }
  static Vec from_codes(const uint32_t* p) { return static_cast<double>(static_cast<int32_t>(*p)); }
  static Vec reversed(Vec x) { return x; }
  static Vec shift_in(Vec a, Vec) { return a; }
  static void store_pcm(Vec scaled, int16_t* out) { *out = pcm16_from_scaled(scaled); }
  static void store_pcm_pairs(Vec left, Vec right, int16_t* out) {
    out[0] = pcm16_from_scaled(left);
    out[1] = pcm16_from_scaled(right);
  }
};

}  // namespace

const SynthesisKernel& scalar_synthesis_kernel() { return SynthesisKernelFor<ScalarLanes>::kernel; }
