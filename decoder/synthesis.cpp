#include "decoder/synthesis.h"

#include <cmath>
#include <cstring>

#include "decoder/synthesis_kernels.h"

namespace {

SynthesisPath fastest_available_path() {
  if (synthesis_path_available(SynthesisPath::Avx2)) return SynthesisPath::Avx2;
  if (synthesis_path_available(SynthesisPath::Sse2)) return SynthesisPath::Sse2;
  return SynthesisPath::Scalar;
}

SynthesisPath path_in_use = fastest_available_path();

// The standard's sums as written: row by row, then output by output.
void synthesize_direct(DecoderContext& ctx, double* ring, const double* samples, int16_t* pcm) {
  const int sblimit = ctx.sblimit;
  const int v = ctx.v_offset;
  for (int i = 0; i < kMatrixRows; ++i) {
    const double* row = ctx.cos_matrix[i];
    double sum = 0.0;
    for (int k = 0; k < sblimit; ++k) sum += row[k] * samples[k];
    ring[v + i] = sum;
  }

  double* w = ctx.window_work;
  const double* d = SynthesisWindow;
  for (int r = 0; r < 8; ++r) {
    // Each run of 32 starts at a multiple of 32, so it never straddles the ring's end.
    const double* first = ring + ((v + 128 * r) & (kRingLength - 1));
    const double* second = ring + ((v + 128 * r + 96) & (kRingLength - 1));
    for (int n = 0; n < 32; ++n) {
      w[64 * r + n] = d[64 * r + n] * first[n];
      w[64 * r + 32 + n] = d[64 * r + 32 + n] * second[n];
    }
  }

  for (int j = 0; j < 32; ++j) {
    double sum = 0.0;
    for (int i = 0; i < 16; ++i) sum += w[j + 32 * i];
    pcm[j] = to_pcm16(sum);
  }
}

// The same sums with the loops turned inside out: every sum still adds its
// terms in the same order, but independent sums advance side by side.
void matrix_scalar(const DecoderContext& ctx, const double* samples, int subbands, double* block) {
  const int rows = ctx.computed_rows;
  double sums[kMatrixRows] = {};
  for (int k = 0; k < subbands; ++k) {
    const double* column = ctx.matrix_columns[k];
    const double s = samples[k];
    for (int r = 0; r < rows; ++r) sums[r] += column[r] * s;
  }
  if (rows == kMatrixRows) {
    memcpy(block, sums, sizeof sums);
    return;
  }
  for (int i = 0; i < 16; ++i) {
    block[i] = sums[i];
    // 0.0 - x rather than -x: a zero sum is +0.0, and so is the negated row's.
    block[32 - i] = 0.0 - sums[i];
    block[33 + i] = sums[16 + i];
  }
  block[16] = 0.0;
  for (int j = 1; j < 16; ++j) block[48 + j] = block[48 - j];
}

void window_scalar(const double* ring, int v_offset, int16_t* pcm) {
  double sums[32] = {};
  for (int i = 0; i < 16; ++i) {
    const double* run = ring + window_run_start(v_offset, i);
    const double* d = SynthesisWindow + 32 * i;
    for (int j = 0; j < 32; ++j) sums[j] += d[j] * run[j];
  }
  for (int j = 0; j < 32; ++j) pcm[j] = to_pcm16(sums[j]);
}

// Row `to` equals row `from` times `sign`, coefficient by coefficient.
bool rows_match(const DecoderContext& ctx, int to, int from, double sign) {
  for (int k = 0; k < kSubbands; ++k) {
    if (ctx.cos_matrix[to][k] != sign * ctx.cos_matrix[from][k]) return false;
  }
  return true;
}

bool matrix_has_symmetries(const DecoderContext& ctx) {
  for (int k = 0; k < kSubbands; ++k) {
    if (ctx.cos_matrix[16][k] != 0.0) return false;
  }
  for (int i = 0; i < 16; ++i) {
    if (!rows_match(ctx, 32 - i, i, -1.0)) return false;
  }
  for (int j = 1; j < 16; ++j) {
    if (!rows_match(ctx, 48 + j, 48 - j, 1.0)) return false;
  }
  return true;
}

}  // namespace

void build_cos_matrix(DecoderContext& ctx) {
  for (int i = 0; i < kMatrixRows; ++i) {
    for (int k = 0; k < kSubbands; ++k) {
      const int m = (16 + i) * (2 * k + 1);
      const double angle = static_cast<double>(m) * pi_over_64;
      double t = std::cos(angle) * 1e9;
      t = t >= 0 ? t + 0.5 : t - 0.5;
      // Nine decimals, half away from zero, as an integer times 1e-9.
      ctx.cos_matrix[i][k] = std::trunc(t) * 1e-9;
    }
  }
  lay_out_cos_matrix(ctx);
}

void lay_out_cos_matrix(DecoderContext& ctx) {
  const bool symmetric = matrix_has_symmetries(ctx);
  ctx.computed_rows = symmetric ? kComputedRowsSymmetric : kMatrixRows;
  for (int k = 0; k < kSubbands; ++k) {
    double* column = ctx.matrix_columns[k];
    if (symmetric) {
      for (int i = 0; i < 16; ++i) {
        column[i] = ctx.cos_matrix[i][k];
        column[16 + i] = ctx.cos_matrix[33 + i][k];
      }
      for (int r = kComputedRowsSymmetric; r < kMatrixRows; ++r) column[r] = 0.0;
    } else {
      for (int r = 0; r < kMatrixRows; ++r) column[r] = ctx.cos_matrix[r][k];
    }
  }
}

void reset_synthesis(DecoderContext& ctx) {
  memset(ctx.mono_ring, 0, sizeof ctx.mono_ring);
  memset(ctx.channel_rings, 0, sizeof ctx.channel_rings);
  ctx.v_offset = 64;
}

void advance_v_offset(DecoderContext& ctx) { ctx.v_offset = (ctx.v_offset - 64) & (kRingLength - 1); }

bool synthesis_path_available(SynthesisPath path) {
  switch (path) {
    case SynthesisPath::Direct:
    case SynthesisPath::Scalar:
      return true;
    case SynthesisPath::Sse2:
#if defined(__SSE2__)
      return true;
#else
      return false;
#endif
    case SynthesisPath::Avx2:
#if defined(SONDRIK_AVX2_KERNELS)
      // The first call comes from a static initializer, perhaps before the
      // runtime's own detection has run.
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
#else
      return false;
#endif
  }
  return false;
}

void use_synthesis_path(SynthesisPath path) {
  if (synthesis_path_available(path)) path_in_use = path;
}

SynthesisPath synthesis_path_in_use() { return path_in_use; }

namespace {

// A zero sample's products are zeros, and adding a zero leaves a sum that
// starts at +0.0 as it was (such a sum is never -0.0). So the fast paths leave
// out the silent subbands at the top, as all paths leave out those past
// sblimit, without changing a bit. This counts the subbands below them.
int subbands_up_to_last_sound(const double* samples, int stride, int sblimit) {
  int subbands = sblimit;
  while (subbands > 0 && samples[(subbands - 1) * stride] == 0.0) --subbands;
  return subbands;
}

// A subband without allocation carries 0.0 in every slot of the frame.
int subbands_up_to_last_allocated(const DecoderContext& ctx, int ch) {
  int subbands = ctx.sblimit;
  while (subbands > 0 && ctx.alloc[ch][subbands - 1] == 0) --subbands;
  return subbands;
}

// One channel of one slot, the sample of subband k at samples[k * stride];
// the samples of subbands from `subbands` on are zero.
void synthesize_slot(DecoderContext& ctx, double* ring, const double* samples, int stride, int subbands,
                     int16_t* pcm) {
  double* block = ring + ctx.v_offset;
  switch (path_in_use) {
#if defined(__SSE2__)
    case SynthesisPath::Sse2:
      matrix_sse2(ctx, samples, stride, subbands, block);
      window_sse2(ring, ctx.v_offset, pcm);
      return;
#endif
#if defined(SONDRIK_AVX2_KERNELS)
    case SynthesisPath::Avx2:
      matrix_avx2(ctx, samples, stride, subbands, block);
      window_avx2(ring, ctx.v_offset, pcm);
      return;
#endif
    default:
      break;
  }
  double gathered[kSubbands];
  for (int k = 0; k < ctx.sblimit; ++k) gathered[k] = samples[k * stride];
  if (path_in_use == SynthesisPath::Direct) {
    synthesize_direct(ctx, ring, gathered, pcm);
  } else {
    matrix_scalar(ctx, gathered, subbands, block);
    window_scalar(ring, ctx.v_offset, pcm);
  }
}

}  // namespace

void synthesize_channel(DecoderContext& ctx, double* ring, const double* samples, int16_t* pcm) {
  synthesize_slot(ctx, ring, samples, 1, subbands_up_to_last_sound(samples, 1, ctx.sblimit), pcm);
}

int16_t to_pcm16(double sample) {
  // Halves round up, toward +infinity; clip before converting to an integer.
  const double p = std::floor(sample * 32768 + 0.5);
  if (p >= 32768) return 32767;
  if (p < -32768) return -32768;
  return static_cast<int16_t>(p);
}
void store_mono_slot(DecoderContext& ctx, const int16_t* pcm) {
  int16_t* out = ctx.pcm_out + ctx.pcm_count;
  if (ctx.two_channel_seen) {
    for (int n = 0; n < 32; ++n) out[2 * n] = out[2 * n + 1] = pcm[n];
    ctx.pcm_count += 64;
  } else {
    memcpy(out, pcm, 32 * sizeof(int16_t));
    ctx.pcm_count += 32;
  }
}

void store_stereo_slot(DecoderContext& ctx, const int16_t* left, const int16_t* right) {
  int16_t* out = ctx.pcm_out + ctx.pcm_count;
  for (int n = 0; n < 32; ++n) {
    out[2 * n] = left[n];
    out[2 * n + 1] = right[n];
  }
  ctx.pcm_count += 64;
}

void synthesize_granule(DecoderContext& ctx) {
  // The kernels read each channel's samples in place, a slot's subbands a
  // fixed stride apart.
  constexpr int kStride = kMaxChannels * kSlotsPerGranule;
  int16_t left[32];
  int16_t right[32];
  const int subbands0 = subbands_up_to_last_allocated(ctx, 0);
  const int subbands1 = ctx.channel_count == 1 ? 0 : subbands_up_to_last_allocated(ctx, 1);
  for (int slot = 0; slot < kSlotsPerGranule; ++slot) {
    advance_v_offset(ctx);
    if (ctx.channel_count == 1) {
      synthesize_slot(ctx, ctx.mono_ring, &ctx.granule_samples[0][0][slot], kStride, subbands0, left);
      store_mono_slot(ctx, left);
    } else {
      synthesize_slot(ctx, ctx.channel_rings[0], &ctx.granule_samples[0][0][slot], kStride, subbands0, left);
      synthesize_slot(ctx, ctx.channel_rings[1], &ctx.granule_samples[0][1][slot], kStride, subbands1, right);
      store_stereo_slot(ctx, left, right);
    }
  }
}
