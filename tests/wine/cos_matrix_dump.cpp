// Prints the matrixing coefficients, and the raw cos() values they are rounded
// from, as bit patterns: built for Linux and for Windows, the two outputs show
// whether the platforms' cos() differ and whether the rounding hides it.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "decoder/synthesis.h"

namespace {

uint64_t bits_of(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

SynthesisState context;

}  // namespace

int main() {
  build_cos_matrix(context);
  for (int i = 0; i < kMatrixRows; ++i) {
    for (int k = 0; k < kSubbands; ++k) {
      const double raw = std::cos(static_cast<double>((16 + i) * (2 * k + 1)) * pi_over_64);
      printf("%d %d %016" PRIx64 " %016" PRIx64 "\n", i, k, bits_of(raw), bits_of(context.cos_matrix[i][k]));
    }
  }
  return 0;
}
