#include "decoder/frame_body.h"

#include "decoder/bit_reader.h"
#include "decoder/stream.h"
#include "decoder/synthesis.h"

namespace {

constexpr int kModeJointStereo = 1;

void set_allocation(DecoderContext& ctx, int ch, int sb, uint32_t code) {
  ctx.alloc[ch][sb] = static_cast<uint32_t>(ctx.levels[sb][code]);
  ctx.quant[ch][sb] = find_quant_class(ctx.alloc[ch][sb]);
}

void read_scale_factors(DecoderContext& ctx, int ch, int sb) {
  uint8_t* parts = ctx.scf[ch][sb];
  if (ctx.alloc[ch][sb] == 0) {
    parts[0] = parts[1] = parts[2] = 0;
    return;
  }
  uint8_t first = static_cast<uint8_t>(read_bits(6));
  switch (ctx.scfsi[ch][sb]) {
    case 0:
      parts[0] = first;
      parts[1] = static_cast<uint8_t>(read_bits(6));
      parts[2] = static_cast<uint8_t>(read_bits(6));
      break;
    case 1:
      parts[0] = parts[1] = first;
      parts[2] = static_cast<uint8_t>(read_bits(6));
      break;
    case 2:
      parts[0] = parts[1] = parts[2] = first;
      break;
    default:
      parts[0] = first;
      parts[1] = parts[2] = static_cast<uint8_t>(read_bits(6));
      break;
  }
}

void read_codes(DecoderContext& ctx, int ch, int sb) {
  uint32_t levels = ctx.alloc[ch][sb];
  if (levels == 0) return;
  const QuantClass& quant = *ctx.quant[ch][sb];
  uint32_t* codes = ctx.codes[ch][sb];
  if (quant.grouped) {
    uint32_t word = read_bits(quant.bits);
    codes[0] = word % levels;
    codes[1] = (word / levels) % levels;
    // The plain quotient: a word of levels^3 or more is used as read.
    codes[2] = (word / levels) / levels;
  } else {
    codes[0] = read_bits(quant.bits);
    codes[1] = read_bits(quant.bits);
    codes[2] = read_bits(quant.bits);
  }
}

// Half the smallest power of two not below the level count: the value of a
// code's most significant bit.
uint32_t sign_bit_value(const QuantClass& quant) {
  if (!quant.grouped) return 1u << (quant.bits - 1);
  uint32_t power = 1;
  while (power < quant.levels) power <<= 1;
  return power >> 1;
}

}  // namespace

void read_side_info(DecoderContext& ctx, int mode, int mode_extension) {
  const int sblimit = ctx.sblimit;
  const int channels = ctx.channel_count;
  ctx.bound = sblimit;
  if (mode == kModeJointStereo && BoundTable[mode_extension] < sblimit) ctx.bound = BoundTable[mode_extension];

  for (int sb = 0; sb < ctx.bound; ++sb) {
    for (int ch = 0; ch < channels; ++ch) set_allocation(ctx, ch, sb, read_bits(ctx.nbal[sb]));
  }
  for (int sb = ctx.bound; sb < sblimit; ++sb) {
    uint32_t code = read_bits(ctx.nbal[sb]);
    set_allocation(ctx, 0, sb, code);
    set_allocation(ctx, 1, sb, code);
  }
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (ctx.alloc[ch][sb] != 0) ctx.scfsi[ch][sb] = static_cast<uint8_t>(read_bits(2));
    }
  }
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) read_scale_factors(ctx, ch, sb);
  }
}

void decode_granule(DecoderContext& ctx, int part) {
  const int channels = ctx.channel_count;
  for (int sb = 0; sb < ctx.sblimit; ++sb) {
    if (sb < ctx.bound) {
      for (int ch = 0; ch < channels; ++ch) read_codes(ctx, ch, sb);
    } else {
      read_codes(ctx, 0, sb);
      for (int j = 0; j < kSlotsPerGranule; ++j) ctx.codes[1][sb][j] = ctx.codes[0][sb][j];
    }
    for (int ch = 0; ch < channels; ++ch) {
      double* out = ctx.granule_samples[sb][ch];
      if (ctx.alloc[ch][sb] == 0) {
        out[0] = out[1] = out[2] = 0.0;
        continue;
      }
      const QuantClass& quant = *ctx.quant[ch][sb];
      const int scale_index = ctx.scf[ch][sb][part];
      for (int j = 0; j < kSlotsPerGranule; ++j) out[j] = dequantize(ctx.codes[ch][sb][j], quant, scale_index);
    }
  }
}

double dequantize(uint32_t code, const QuantClass& quant, int scale_factor_index) {
  const uint32_t msb = sign_bit_value(quant);
  const double sign = (code & msb) ? 0.0 : -1.0;
  const double fraction = static_cast<double>(code & (msb - 1)) / static_cast<double>(msb);
  // Exactly this order, each step rounded to double: the results are bit-exact.
  double value = sign + fraction;
  value = value + quant.d;
  value = value * quant.c;
  return value * ScaleFactorTable[scale_factor_index];
}

FrameResult decode_frame_body(DecoderContext& ctx, int mode, int mode_extension) {
  ctx.pcm_count = 0;
  read_side_info(ctx, mode, mode_extension);
  for (int granule = 0; granule < kGranulesPerFrame; ++granule) {
    decode_granule(ctx, granule / 4);
    synthesize_granule(ctx);
  }
  // Zero bits past the end of the input are no frame: don't write what they made.
  if (bits_ran_out()) return FrameResult::CutShort;
  return write_frame_pcm(ctx);
}
