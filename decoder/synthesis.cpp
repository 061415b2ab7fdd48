#include "decoder/synthesis.h"

#include <cmath>
#include <cstring>

#include "decoder/wav_writer.h"

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
}

void reset_synthesis(DecoderContext& ctx) {
  memset(ctx.mono_ring, 0, sizeof ctx.mono_ring);
  memset(ctx.channel_rings, 0, sizeof ctx.channel_rings);
  ctx.v_offset = 64;
}

void advance_v_offset(DecoderContext& ctx) { ctx.v_offset = (ctx.v_offset - 64) & (kRingLength - 1); }

void synthesize_channel(DecoderContext& ctx, double* ring, const double* samples, int16_t* pcm) {
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
  double samples[kSubbands];
  int16_t left[32];
  int16_t right[32];
  for (int slot = 0; slot < kSlotsPerGranule; ++slot) {
    advance_v_offset(ctx);
    if (ctx.channel_count == 1) {
      for (int k = 0; k < ctx.sblimit; ++k) samples[k] = ctx.granule_samples[k][0][slot];
      synthesize_channel(ctx, ctx.mono_ring, samples, left);
      store_mono_slot(ctx, left);
    } else {
      for (int k = 0; k < ctx.sblimit; ++k) samples[k] = ctx.granule_samples[k][0][slot];
      synthesize_channel(ctx, ctx.channel_rings[0], samples, left);
      for (int k = 0; k < ctx.sblimit; ++k) samples[k] = ctx.granule_samples[k][1][slot];
      synthesize_channel(ctx, ctx.channel_rings[1], samples, right);
      store_stereo_slot(ctx, left, right);
    }
  }
}

FrameResult write_frame_pcm(DecoderContext& ctx) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "PCM is written in the host's byte order");
  const uint32_t bytes = static_cast<uint32_t>(ctx.pcm_count) * 2;
  if (!wav_has_room_for(ctx, bytes)) return FrameResult::WavFull;
  uint32_t written = 0;
  const bool ok = file_write(ctx.output, ctx.pcm_out, bytes, &written);
  if (!ok) ctx.write_error = last_error();
  ctx.bytes_written += written;
  return ok ? FrameResult::Written : FrameResult::WriteFailed;
}
