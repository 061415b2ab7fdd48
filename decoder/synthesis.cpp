#include "decoder/synthesis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decoder/synthesis_kernels.h"

namespace {

// Row `to` equals row `from` times `sign`, coefficient by coefficient.
bool rows_match(const SynthesisState& state, int to, int from, double sign) {
  for (int k = 0; k < kSubbands; ++k) {
    if (state.cos_matrix[to][k] != sign * state.cos_matrix[from][k]) return false;
  }
  return true;
}

bool matrix_has_symmetries(const SynthesisState& state) {
  for (int k = 0; k < kSubbands; ++k) {
    if (state.cos_matrix[16][k] != 0.0) return false;
  }
  for (int i = 0; i < 16; ++i) {
    if (!rows_match(state, 32 - i, i, -1.0)) return false;
  }
  for (int j = 1; j < 16; ++j) {
    if (!rows_match(state, 48 + j, 48 - j, 1.0)) return false;
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

void build_cos_matrix(SynthesisState& state) {
  for (int i = 0; i < kMatrixRows; ++i) {
    for (int k = 0; k < kSubbands; ++k) {
      const int m = (16 + i) * (2 * k + 1);
      const double angle = static_cast<double>(m) * pi_over_64;
      double t = std::cos(angle) * 1e9;
      t = t >= 0 ? t + 0.5 : t - 0.5;
      // Nine decimals, half away from zero, as an integer times 1e-9.
      state.cos_matrix[i][k] = std::trunc(t) * 1e-9;
    }
  }
  lay_out_cos_matrix(state);
}

void lay_out_cos_matrix(SynthesisState& state) {
  const bool symmetric = matrix_has_symmetries(state);
  state.computed_rows = symmetric ? kComputedRowsSymmetric : kMatrixRows;
  for (int k = 0; k < kSubbands; ++k) {
    double* column = state.matrix_columns[k];
    if (symmetric) {
      for (int i = 0; i < 16; ++i) {
        column[i] = state.cos_matrix[i][k];
        column[16 + i] = state.cos_matrix[33 + i][k];
      }
      for (int r = kComputedRowsSymmetric; r < kMatrixRows; ++r) column[r] = 0.0;
    } else {
      for (int r = 0; r < kMatrixRows; ++r) column[r] = state.cos_matrix[r][k];
    }
  }
}

void reset_synthesis(SynthesisState& state) {
  memset(state.mono_ring, 0, sizeof state.mono_ring);
  memset(state.channel_rings, 0, sizeof state.channel_rings);
  state.v_offset = 64;
  state.active_body_channels = 0;
}

// An idle ring must read, when its body resumes at whatever v_offset has
// moved on to, as the standard's ring of 1024 entries would: block b mod 1024
// holds the last values written there. The ring is twice that long, so each
// block has a twin 1024 entries away, and the last 16 blocks written (every
// body runs at least a frame, 36 slots) lie at v_offset and the 15 above it,
// one of each twin pair. Copying each onto its twin makes every position
// read what the short ring holds; the resumed body then writes its new blocks
// over whichever twin it meets.
void switch_body(SynthesisState& state, int channels) {
  const int idle = state.active_body_channels;
  state.active_body_channels = channels;
  if (idle == 0 || idle == channels) return;
  static_assert(kRingLength == 2048, "each block has one twin");
  double* const rings[kMaxChannels] = {idle == 1 ? state.mono_ring : state.channel_rings[0], state.channel_rings[1]};
  for (int c = 0; c < idle; ++c) {
    for (int block = 0; block < 16; ++block) {
      const int at = (state.v_offset + 64 * block) & (kRingLength - 1);
      memcpy(rings[c] + (at ^ 1024), rings[c] + at, 64 * sizeof(double));
    }
  }
}

void start_synthesis(SynthesisState& state, SynthesisPath path) {
  state.kernel = &synthesis_kernel(path);
  build_cos_matrix(state);
  reset_synthesis(state);
}

void start_synthesis_like(SynthesisState& state, const SynthesisState& computed) {
  state.kernel = computed.kernel;
  memcpy(state.cos_matrix, computed.cos_matrix, sizeof state.cos_matrix);
  memcpy(state.matrix_columns, computed.matrix_columns, sizeof state.matrix_columns);
  state.computed_rows = computed.computed_rows;
  reset_synthesis(state);
}

void advance_v_offset(SynthesisState& state) { state.v_offset = (state.v_offset - 64) & (kRingLength - 1); }

void synthesize_channel(SynthesisState& state, double* ring, const double* samples, int sblimit, int16_t* pcm) {
  state.kernel->mono(state, ring, samples, 1, subbands_up_to_last_sound(samples, sblimit), false, 1, pcm);
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

namespace {

void synthesize_granule(DecoderContext& ctx, const double* samples, int16_t* pcm) {
  // The kernels read each channel's samples in place, a slot's subbands a
  // fixed stride apart, and take the granule's three slots in one call.
  constexpr int kStride = kMaxChannels * kSlotsPerGranule;
  SynthesisState& state = ctx.synthesis;
  const SynthesisKernel& kernel = *state.kernel;
  advance_v_offset(state);
  if (ctx.channel_count == 1) {
    const int subbands = subbands_up_to_last_allocated(ctx, 0);
    kernel.mono(state, state.mono_ring, samples, kStride, subbands, ctx.two_channel_seen, kSlotsPerGranule,
                pcm + ctx.pcm_count);
    ctx.pcm_count += kSlotsPerGranule * (ctx.two_channel_seen ? 64 : 32);
  } else {
    // Both channels in one pass: past the higher of the two counts, both are zero.
    const int subbands = std::max(subbands_up_to_last_allocated(ctx, 0), subbands_up_to_last_allocated(ctx, 1));
    kernel.stereo(state, state.channel_rings[0], state.channel_rings[1], samples, samples + kSlotsPerGranule,
                  kStride, subbands, kSlotsPerGranule, pcm + ctx.pcm_count);
    ctx.pcm_count += kSlotsPerGranule * 64;
  }
  for (int slot = 1; slot < kSlotsPerGranule; ++slot) advance_v_offset(state);
}

}  // namespace

void synthesize_frame(DecoderContext& ctx, int16_t* pcm) {
  ctx.pcm_count = 0;
  switch_body(ctx.synthesis, ctx.channel_count);
  for (const double* samples : ctx.frame_samples) synthesize_granule(ctx, samples, pcm);
}
