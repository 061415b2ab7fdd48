// Which synthesis kernels this build has, which the processor runs, and the
// one choice the program makes when it starts.
#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "decoder/synthesis.h"

// Each defined by its own unit, built with its own instruction set.
const SynthesisKernel& scalar_synthesis_kernel();
const SynthesisKernel& sse2_synthesis_kernel();
const SynthesisKernel& avx2_synthesis_kernel();
const SynthesisKernel& avx512_synthesis_kernel();
const SynthesisKernel& neon_synthesis_kernel();

namespace {

bool built(SynthesisPath path) {
  switch (path) {
    case SynthesisPath::Scalar:
      return true;
    case SynthesisPath::Sse2:
#if defined(__SSE2__)
      return true;
#else
      return false;
#endif
    case SynthesisPath::Avx2:
    case SynthesisPath::Avx512:
#if defined(SONDRIK_X86_KERNELS)
      return true;
#else
      return false;
#endif
    case SynthesisPath::Neon:
#if defined(__aarch64__)
      return true;
#else
      return false;
#endif
  }
  return false;
}

bool processor_runs(SynthesisPath path) {
#if defined(SONDRIK_X86_KERNELS)
  // The choice is made by a static initializer, perhaps before the runtime's
  // own detection has run. The answers include the system's saving of the
  // wider registers.
  __builtin_cpu_init();
  if (path == SynthesisPath::Avx2) return __builtin_cpu_supports("avx2");
  if (path == SynthesisPath::Avx512) return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("bmi2");
#endif
  (void)path;
  return true;
}

SynthesisPath fastest_available() {
  for (SynthesisPath path : {SynthesisPath::Avx512, SynthesisPath::Avx2, SynthesisPath::Neon, SynthesisPath::Sse2}) {
    if (synthesis_path_available(path)) return path;
  }
  return SynthesisPath::Scalar;
}

// The test switch names a path to use instead of the fastest; a name that
// isn't an available path changes nothing.
SynthesisPath chosen_at_start() {
  const char* wanted = getenv("SONDRIK_SYNTHESIS_PATH");
  if (wanted != nullptr) {
    for (SynthesisPath path : kSynthesisPaths) {
      if (strcmp(wanted, synthesis_path_name(path)) == 0 && synthesis_path_available(path)) return path;
    }
  }
  return fastest_available();
}

const SynthesisPath path_in_use = chosen_at_start();

}  // namespace

const char* synthesis_path_name(SynthesisPath path) {
  switch (path) {
    case SynthesisPath::Scalar:
      return "scalar";
    case SynthesisPath::Sse2:
      return "sse2";
    case SynthesisPath::Avx2:
      return "avx2";
    case SynthesisPath::Avx512:
      return "avx512";
    case SynthesisPath::Neon:
      return "neon";
  }
  return "?";
}

bool synthesis_path_available(SynthesisPath path) { return built(path) && processor_runs(path); }

const SynthesisKernel& synthesis_kernel(SynthesisPath path) {
  switch (path) {
#if defined(__SSE2__)
    case SynthesisPath::Sse2:
      return sse2_synthesis_kernel();
#endif
#if defined(SONDRIK_X86_KERNELS)
    case SynthesisPath::Avx2:
      return avx2_synthesis_kernel();
    case SynthesisPath::Avx512:
      return avx512_synthesis_kernel();
#endif
#if defined(__aarch64__)
    case SynthesisPath::Neon:
      return neon_synthesis_kernel();
#endif
    default:
      return scalar_synthesis_kernel();
  }
}

SynthesisPath synthesis_path_in_use() { return path_in_use; }
