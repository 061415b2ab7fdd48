#include "decoder/frame_body.h"

#include <cstring>

#include "decoder/bit_reader.h"
#include "decoder/stream.h"
#include "decoder/synthesis.h"
#include "decoder/wav_writer.h"

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

// A grouped word holds three codes, lowest first. The level count is one of
// three constants, so each division becomes a multiplication.
template <uint32_t levels>
void split_word(uint32_t word, uint32_t* codes) {
  codes[0] = word % levels;
  codes[1] = (word / levels) % levels;
  // The plain quotient: a word of levels^3 or more is used as read.
  codes[2] = (word / levels) / levels;
}

// Only the 3-, 5- and 9-level classes are grouped.
void split_grouped_word(uint32_t word, uint32_t levels, uint32_t* codes) {
  if (levels == 3) {
    split_word<3>(word, codes);
  } else if (levels == 5) {
    split_word<5>(word, codes);
  } else {
    split_word<9>(word, codes);
  }
}

// Every granule of a frame has the same fields: by subband, then by channel,
// each subband above the joint-stereo bound once for both channels; one
// field for a grouped word, three for separate codes, none for silence.
int list_field_widths(const DecoderContext& ctx, uint8_t* widths) {
  const int channels = ctx.channel_count;
  int count = 0;
  for (int sb = 0; sb < ctx.sblimit; ++sb) {
    const int coded_channels = sb < ctx.bound ? channels : 1;
    for (int ch = 0; ch < coded_channels; ++ch) {
      if (ctx.alloc[ch][sb] == 0) continue;
      const QuantClass& quant = *ctx.quant[ch][sb];
      const uint8_t width = static_cast<uint8_t>(quant.bits);
      widths[count++] = width;
      if (!quant.grouped) {
        widths[count++] = width;
        widths[count++] = width;
      }
    }
  }
  return count;
}

// Half the smallest power of two not below the level count: the value of a
// code's most significant bit.
uint32_t sign_bit_value(const QuantClass& quant) {
  if (!quant.grouped) return 1u << (quant.bits - 1);
  uint32_t power = 1;
  while (power < quant.levels) power <<= 1;
  return power >> 1;
}

// 1 / power for a power of two, built from its exponent: exact, and cheaper
// than a division.
double reciprocal_of_power_of_two(uint32_t power) {
  const uint64_t bits = static_cast<uint64_t>(1023 - __builtin_ctz(power)) << 52;
  double reciprocal;
  memcpy(&reciprocal, &bits, sizeof reciprocal);
  return reciprocal;
}

// What one subband's codes need for their values in the current granule.
struct Dequantizer {
  uint32_t msb;
  double msb_reciprocal;
  double d;
  double c;
  double scale;
};

Dequantizer dequantizer_for(const QuantClass& quant, double scale) {
  const uint32_t msb = sign_bit_value(quant);
  return Dequantizer{msb, reciprocal_of_power_of_two(msb), quant.d, quant.c, scale};
}

// For a subband without allocation: sign + fraction + d is 0.0 or 1.0 for any
// code, and times c = 0.0 it is +0.0, the value such a subband carries.
constexpr Dequantizer kSilent = {1, 1.0, 1.0, 0.0, 1.0};

inline double dequantize_code(uint32_t code, const Dequantizer& q) {
  // The standard's sign + fraction: 0.0 if the code's msb is set, else -1.0,
  // plus the lower bits divided by msb. Both steps are exact (msb is a power
  // of two and every result a multiple of 1 / msb within [-1, 1)), so this is
  // the same double as (lower bits, less msb when msb is clear) times 1 / msb,
  // computed here without a branch on sign bits that are as good as random.
  const int32_t steps = static_cast<int32_t>(code & (2 * q.msb - 1)) - static_cast<int32_t>(q.msb);
  double value = static_cast<double>(steps) * q.msb_reciprocal;
  // Exactly this order, each step rounded to double: the results are bit-exact.
  value = value + q.d;
  value = value * q.c;
  return value * q.scale;
}

// A coded subband of a channel, in the order of the stream, with where its
// codes and values go; above the joint-stereo bound one entry serves both
// channels, and `second_*` point at channel 1 (else they are null).
struct CodedSubband {
  uint32_t* codes;
  double* values;
  const Dequantizer* quantizer;
  uint32_t* second_codes;
  double* second_values;
  const Dequantizer* second_quantizer;
  uint32_t levels;
  bool grouped;
};

struct GranulePlan {
  uint8_t widths[kSubbands * kMaxChannels * kSlotsPerGranule];
  int field_count;
  CodedSubband coded[kSubbands * kMaxChannels];
  int coded_count;
  Dequantizer quantizers[kSubbands][kMaxChannels];
};

// Silent subbands get their codes and values here, once for all twelve
// granules: nothing in a granule changes them.
void plan_frame(DecoderContext& ctx, GranulePlan& plan) {
  plan.field_count = list_field_widths(ctx, plan.widths);
  const int channels = ctx.channel_count;
  plan.coded_count = 0;
  for (int sb = 0; sb < ctx.sblimit; ++sb) {
    const int coded_channels = sb < ctx.bound ? channels : 1;
    for (int ch = 0; ch < coded_channels; ++ch) {
      if (ctx.alloc[ch][sb] == 0) continue;
      CodedSubband& coded = plan.coded[plan.coded_count++];
      coded.codes = ctx.codes[ch][sb];
      coded.values = ctx.granule_samples[sb][ch];
      coded.quantizer = &plan.quantizers[sb][ch];
      const bool shared = coded_channels < channels;
      coded.second_codes = shared ? ctx.codes[1][sb] : nullptr;
      coded.second_values = shared ? ctx.granule_samples[sb][1] : nullptr;
      coded.second_quantizer = shared ? &plan.quantizers[sb][1] : nullptr;
      coded.levels = ctx.alloc[ch][sb];
      coded.grouped = ctx.quant[ch][sb]->grouped != 0;
    }
    for (int ch = 0; ch < channels; ++ch) {
      if (ctx.alloc[ch][sb] == 0) {
        plan.quantizers[sb][ch] = kSilent;
        uint32_t* codes = ctx.codes[ch][sb];
        codes[0] = codes[1] = codes[2] = 0;
        double* out = ctx.granule_samples[sb][ch];
        out[0] = out[1] = out[2] = 0.0;
      } else {
        plan.quantizers[sb][ch] = dequantizer_for(*ctx.quant[ch][sb], 0.0);
      }
    }
  }
}

// The scale factors of one group of four granules.
void plan_scales(const DecoderContext& ctx, int part, GranulePlan& plan) {
  for (int sb = 0; sb < ctx.sblimit; ++sb) {
    for (int ch = 0; ch < ctx.channel_count; ++ch) {
      if (ctx.alloc[ch][sb] != 0) plan.quantizers[sb][ch].scale = ScaleFactorTable[ctx.scf[ch][sb][part]];
    }
  }
}

inline void dequantize_codes(const uint32_t* codes, const Dequantizer& q, double* out) {
  for (int j = 0; j < kSlotsPerGranule; ++j) out[j] = dequantize_code(codes[j], q);
}

// Reads one granule's fields in one call, spreads them into the codes of the
// coded subbands and computes their values.
void decode_planned_granule(const GranulePlan& plan) {
  uint32_t fields[kSubbands * kMaxChannels * kSlotsPerGranule];
  read_bit_fields(plan.widths, plan.field_count, fields);

  const uint32_t* field = fields;
  for (int n = 0; n < plan.coded_count; ++n) {
    const CodedSubband& c = plan.coded[n];
    uint32_t codes[kSlotsPerGranule];
    if (c.grouped) {
      split_grouped_word(*field++, c.levels, codes);
    } else {
      codes[0] = field[0];
      codes[1] = field[1];
      codes[2] = field[2];
      field += 3;
    }
    for (int j = 0; j < kSlotsPerGranule; ++j) c.codes[j] = codes[j];
    dequantize_codes(codes, *c.quantizer, c.values);
    if (c.second_codes != nullptr) {
      // Above the bound both channels share the codes, each with its own scale factors.
      for (int j = 0; j < kSlotsPerGranule; ++j) c.second_codes[j] = codes[j];
      dequantize_codes(codes, *c.second_quantizer, c.second_values);
    }
  }
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
  GranulePlan plan;
  plan_frame(ctx, plan);
  plan_scales(ctx, part, plan);
  decode_planned_granule(plan);
}

FrameResult decode_frame_body(DecoderContext& ctx, int mode, int mode_extension) {
  ctx.pcm_count = 0;
  read_side_info(ctx, mode, mode_extension);
  GranulePlan plan;
  plan_frame(ctx, plan);
  for (int granule = 0; granule < kGranulesPerFrame; ++granule) {
    // The same as decode_granule(ctx, granule / 4), planned once per frame.
    if (granule % 4 == 0) plan_scales(ctx, granule / 4, plan);
    decode_planned_granule(plan);
    synthesize_granule(ctx);
  }
  // Zero bits past the end of the input are no frame: don't write what they made.
  if (bits_ran_out()) return FrameResult::CutShort;
  return write_frame_pcm(ctx);
}
