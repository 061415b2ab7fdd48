#include "decoder/synthesis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decoder/synthesis_kernels.h"
#include "decoder/wav_writer.h"

namespace {

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

// A subband without allocation carries 0.0 in every slot of the frame. A zero
// sample's products are zeros, and adding a zero leaves a sum that starts at
// +0.0 as it was (such a sum is never -0.0). So the kernels leave out the
// silent subbands at the top, as they leave out those past sblimit, without
// changing a bit. This counts the subbands below them.
int subbands_up_to_last_allocated(const DecoderContext& ctx, int ch) {
  int subbands = ctx.sblimit;
  while (subbands > 0 && ctx.alloc[ch][subbands - 1] == 0) --subbands;
  return subbands;
}

int subbands_up_to_last_sound(const double* samples, int sblimit) {
  int subbands = sblimit;
  while (subbands > 0 && samples[subbands - 1] == 0.0) --subbands;
  return subbands;
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

void synthesize_channel(DecoderContext& ctx, double* ring, const double* samples, int16_t* pcm) {
  synthesis_kernel(synthesis_path_in_use())
      .mono(ctx, ring, samples, 1, subbands_up_to_last_sound(samples, ctx.sblimit), false, 1, pcm);
}

int16_t pcm16_from_scaled(double scaled) {
  // Clip before converting to an integer.
  const double p = std::floor(scaled);
  if (p >= 32768) return 32767;
  if (p < -32768) return -32768;
  return static_cast<int16_t>(p);
}

// Halves round up, toward +infinity.
int16_t to_pcm16(double sample) { return pcm16_from_scaled(sample * 32768 + 0.5); }

void synthesize_granule_samples(DecoderContext& ctx, const double* samples) {
  // The kernels read each channel's samples in place, a slot's subbands a
  // fixed stride apart, and take the granule's three slots in one call.
  constexpr int kStride = kMaxChannels * kSlotsPerGranule;
  const SynthesisKernel& kernel = synthesis_kernel(synthesis_path_in_use());
  advance_v_offset(ctx);
  if (ctx.channel_count == 1) {
    const int subbands = subbands_up_to_last_allocated(ctx, 0);
    kernel.mono(ctx, ctx.mono_ring, samples, kStride, subbands, ctx.two_channel_seen,
                kSlotsPerGranule, frame_pcm(ctx) + ctx.pcm_count);
    ctx.pcm_count += kSlotsPerGranule * (ctx.two_channel_seen ? 64 : 32);
  } else {
    // Both channels in one pass: past the higher of the two counts, both are zero.
    const int subbands = std::max(subbands_up_to_last_allocated(ctx, 0), subbands_up_to_last_allocated(ctx, 1));
    kernel.stereo(ctx, ctx.channel_rings[0], ctx.channel_rings[1], samples, samples + kSlotsPerGranule,
                  kStride, subbands, kSlotsPerGranule, frame_pcm(ctx) + ctx.pcm_count);
    ctx.pcm_count += kSlotsPerGranule * 64;
  }
  for (int slot = 1; slot < kSlotsPerGranule; ++slot) advance_v_offset(ctx);
}

void synthesize_granule(DecoderContext& ctx) { synthesize_granule_samples(ctx, &ctx.granule_samples[0][0][0]); }
