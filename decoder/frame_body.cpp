#include "decoder/frame_body.h"

#include <cstring>

#include "decoder/bit_reader.h"
#include "decoder/stream.h"
#include "decoder/synthesis.h"
#include "decoder/wav_writer.h"

namespace {

constexpr int kModeJointStereo = 1;
constexpr int kSubbandValues = kMaxChannels * kSlotsPerGranule;
// Three scale factors per subband, each for four granules.
constexpr int kScaleParts = 3;
// Allocation, selection and three scale factors for every subband and channel.
constexpr int kLongestSideInfoBits = kSubbands * kMaxChannels * (4 + 2 + 3 * 6);

// Every word of the three grouped classes split into its three codes, lowest
// first, a byte each: word mod L, (word div L) mod L, and the plain quotient
// (word div L) div L, which a word of L^3 or more takes past L (at most 12).
// Four bytes a word keep the table small beside the synthesis data in the cache.
struct GroupedSplits {
  static constexpr int kThree = 0;               // 3 levels, 5-bit words
  static constexpr int kFive = kThree + 32;      // 5 levels, 7-bit words
  static constexpr int kNine = kFive + 128;      // 9 levels, 10-bit words
  uint32_t words[kNine + 1024];
};

constexpr GroupedSplits make_grouped_splits() {
  GroupedSplits splits{};
  const int bases[] = {GroupedSplits::kThree, GroupedSplits::kFive, GroupedSplits::kNine};
  const uint32_t levels[] = {3, 5, 9};
  const uint32_t words[] = {32, 128, 1024};
  for (int g = 0; g < 3; ++g) {
    const uint32_t l = levels[g];
    for (uint32_t word = 0; word < words[g]; ++word) {
      splits.words[bases[g] + word] = word % l | (word / l) % l << 8 | (word / l) / l << 16;
    }
  }
  return splits;
}

constexpr GroupedSplits kGroupedSplits = make_grouped_splits();

inline void unpack_split(uint32_t split, uint32_t* out) {
  out[0] = split & 0xFF;
  out[1] = split >> 8 & 0xFF;
  out[2] = split >> 16;
}

// What dequantization takes from a class besides C and D: 1 / msb, where msb
// is half the smallest power of two not below the level count (the value of
// a code's top bit), exact as msb is a power of two; and where its grouped
// words are split. Indexed like quant_classes.
struct DequantSteps {
  double msb_reciprocal;
  int split_base;  // into kGroupedSplits for the grouped classes, else -1
};

constexpr DequantSteps steps_for_levels(uint32_t levels) {
  uint32_t power = 1;
  while (power < levels) power <<= 1;
  const int split_base = levels == 3   ? GroupedSplits::kThree
                         : levels == 5 ? GroupedSplits::kFive
                         : levels == 9 ? GroupedSplits::kNine
                                       : -1;
  return DequantSteps{2.0 / power, split_base};
}

constexpr DequantSteps kDequantSteps[kQuantClassCount] = {
    steps_for_levels(3),     steps_for_levels(5),     steps_for_levels(7),     steps_for_levels(9),
    steps_for_levels(15),    steps_for_levels(31),    steps_for_levels(63),    steps_for_levels(127),
    steps_for_levels(255),   steps_for_levels(511),   steps_for_levels(1023),  steps_for_levels(2047),
    steps_for_levels(4095),  steps_for_levels(8191),  steps_for_levels(16383), steps_for_levels(32767),
    steps_for_levels(65535),
};

const DequantSteps& steps_of(const QuantClass& quant) { return kDequantSteps[&quant - quant_classes]; }

void set_allocation(DecoderContext& ctx, int ch, int sb, uint32_t code) {
  ctx.alloc[ch][sb] = static_cast<uint32_t>(ctx.levels[sb][code]);
  ctx.quant[ch][sb] = ctx.level_classes[sb][code];
}

template <class Reader>
void read_scale_factors(DecoderContext& ctx, int ch, int sb, Reader& in) {
  uint8_t* parts = ctx.scf[ch][sb];
  if (ctx.alloc[ch][sb] == 0) {
    parts[0] = parts[1] = parts[2] = 0;
    return;
  }
  in.need(3 * 6);
  if constexpr (Reader::kPeeks) {
    // Without a branch on the selection, which varies from subband to
    // subband: each part takes one of the next three 6-bit fields.
    static constexpr uint8_t kFieldShift[4][3] = {{12, 6, 0}, {12, 12, 6}, {12, 12, 12}, {12, 6, 6}};
    static constexpr uint8_t kFieldBits[4] = {18, 12, 6, 12};
    const uint32_t fields = in.peek(3 * 6);
    const int selection = ctx.scfsi[ch][sb] & 3;
    for (int part = 0; part < 3; ++part) {
      parts[part] = static_cast<uint8_t>(fields >> kFieldShift[selection][part] & 63);
    }
    in.skip(kFieldBits[selection]);
    return;
  }
  const uint8_t first = static_cast<uint8_t>(in.take_ready(6));
  switch (ctx.scfsi[ch][sb]) {
    case 0:
      parts[0] = first;
      parts[1] = static_cast<uint8_t>(in.take_ready(6));
      parts[2] = static_cast<uint8_t>(in.take_ready(6));
      break;
    case 1:
      parts[0] = parts[1] = first;
      parts[2] = static_cast<uint8_t>(in.take_ready(6));
      break;
    case 2:
      parts[0] = parts[1] = parts[2] = first;
      break;
    default:
      parts[0] = first;
      parts[1] = parts[2] = static_cast<uint8_t>(in.take_ready(6));
      break;
  }
}

template <class Reader>
void read_side_info_from(DecoderContext& ctx, Reader& in) {
  const int sblimit = ctx.sblimit;
  const int channels = ctx.channel_count;
  for (int sb = 0; sb < ctx.bound; ++sb) {
    for (int ch = 0; ch < channels; ++ch) set_allocation(ctx, ch, sb, in.take(ctx.nbal[sb]));
  }
  for (int sb = ctx.bound; sb < sblimit; ++sb) {
    const uint32_t code = in.take(ctx.nbal[sb]);
    set_allocation(ctx, 0, sb, code);
    set_allocation(ctx, 1, sb, code);
  }
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (ctx.alloc[ch][sb] != 0) ctx.scfsi[ch][sb] = static_cast<uint8_t>(in.take(2));
    }
  }
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) read_scale_factors(ctx, ch, sb, in);
  }
}

// A coded subband of a channel, in the order of the stream.
struct CodedSubband {
  const uint32_t* splits;  // grouped classes: each word's three codes, else null
  uint16_t first_value;    // where its codes and values start in the granule
  uint16_t first_bit;      // where its fields start, from the granule's first bit
  uint8_t width;           // of its word, or of each of its three codes
};

// What the twelve granules of a frame share: their fields, and for every
// value up to the last coded subband the steps of its dequantization, side
// by side so that values of many subbands are computed together.
struct FramePlan {
  CodedSubband coded[kSubbands * kMaxChannels];
  int coded_count;
  // Entries from here on lie above the joint-stereo bound: each serves both
  // channels, and channel 1's codes follow channel 0's.
  int shared_from;
  // The same entries by kind, and the first values of those above the bound,
  // for reading the fields by their places.
  CodedSubband plain[kSubbands * kMaxChannels];
  CodedSubband grouped[kSubbands * kMaxChannels];
  uint16_t shared[kSubbands];
  int plain_count;
  int grouped_count;
  int shared_count;
  int granule_bits;
  int value_count;  // six per subband up to the last coded one
  alignas(64) double msb_reciprocal[kGranuleValues];
  alignas(64) double d[kGranuleValues];
  alignas(64) double c[kGranuleValues];
  // For each group of four granules: each part's scale factors.
  alignas(64) double scale[kScaleParts][kGranuleValues];
};

void plan_frame(DecoderContext& ctx, FramePlan& plan) {
  const int channels = ctx.channel_count;
  plan.coded_count = 0;
  plan.plain_count = plan.grouped_count = plan.shared_count = 0;
  plan.shared_from = -1;
  plan.granule_bits = 0;
  int top = 0;
  for (int sb = 0; sb < ctx.sblimit; ++sb) {
    const int coded_channels = sb < ctx.bound ? channels : 1;
    for (int ch = 0; ch < coded_channels; ++ch) {
      if (ctx.alloc[ch][sb] == 0) continue;
      const QuantClass& quant = *ctx.quant[ch][sb];
      const int split_base = steps_of(quant).split_base;
      if (coded_channels < channels && plan.shared_from < 0) plan.shared_from = plan.coded_count;
      // Made whole here and then copied: a copy read back from its fields'
      // separate stores would wait for them.
      CodedSubband coded;
      coded.splits = split_base >= 0 ? kGroupedSplits.words + split_base : nullptr;
      coded.first_value = static_cast<uint16_t>(sb * kSubbandValues + ch * kSlotsPerGranule);
      coded.first_bit = static_cast<uint16_t>(plan.granule_bits);
      coded.width = static_cast<uint8_t>(quant.bits);
      plan.granule_bits += quant.grouped ? quant.bits : 3 * quant.bits;
      plan.coded[plan.coded_count++] = coded;
      (split_base >= 0 ? plan.grouped[plan.grouped_count++] : plan.plain[plan.plain_count++]) = coded;
      if (coded_channels < channels) plan.shared[plan.shared_count++] = coded.first_value;
      top = sb + 1;
    }
  }
  if (plan.shared_from < 0) plan.shared_from = plan.coded_count;
  plan.value_count = top * kSubbandValues;

  for (int sb = 0; sb < top; ++sb) {
    for (int ch = 0; ch < kMaxChannels; ++ch) {
      const int first = sb * kSubbandValues + ch * kSlotsPerGranule;
      const bool coded = ch < channels && ctx.alloc[ch][sb] != 0;
      // A silent subband's steps make +0.0 of any code it may hold:
      // (code x 0.0 - 1.0 + 1.0) x 0.0 x 0.0.
      double msb_reciprocal = 0.0;
      double d = 1.0;
      double c = 0.0;
      if (coded) {
        const QuantClass& quant = *ctx.quant[ch][sb];
        msb_reciprocal = steps_of(quant).msb_reciprocal;
        d = quant.d;
        c = quant.c;
      }
      for (int i = first; i < first + kSlotsPerGranule; ++i) {
        plan.msb_reciprocal[i] = msb_reciprocal;
        plan.d[i] = d;
        plan.c[i] = c;
        if (!coded) {
          for (double* part_scales : plan.scale) part_scales[i] = 0.0;  // coded ones come from plan_scales
        }
      }
    }
  }
  // Above the last coded subband nothing writes a granule's values: those an
  // earlier frame wrote there are zeroed, so that none outlives its frame.
  if (plan.value_count < ctx.frame_values_top) {
    for (double* values : ctx.frame_samples) {
      memset(values + plan.value_count, 0, (ctx.frame_values_top - plan.value_count) * sizeof(double));
    }
  }
  ctx.frame_values_top = plan.value_count;
}

// The scale factors of one group of four granules.
void plan_scales(const DecoderContext& ctx, int part, FramePlan& plan) {
  const int top = plan.value_count / kSubbandValues;
  for (int sb = 0; sb < top; ++sb) {
    for (int ch = 0; ch < ctx.channel_count; ++ch) {
      if (ctx.alloc[ch][sb] == 0) continue;
      const double scale = ScaleFactorTable[ctx.scf[ch][sb][part]];
      double* out = plan.scale[part] + sb * kSubbandValues + ch * kSlotsPerGranule;
      out[0] = out[1] = out[2] = scale;
    }
  }
}

template <bool shared, class Reader>
inline void read_codes(const CodedSubband* from, const CodedSubband* to, uint32_t* codes, Reader& in) {
  for (const CodedSubband* entry = from; entry != to; ++entry) {
    const CodedSubband coded = *entry;
    uint32_t* out = codes + coded.first_value;
    const int width = coded.width;
    // Up to three 16-bit codes after one refill.
    in.refill();
    if (coded.splits != nullptr) {
      unpack_split(coded.splits[in.take_ready(width)], out);
    } else {
      out[0] = in.take_ready(width);
      out[1] = in.take_ready(width);
      out[2] = in.take_ready(width);
    }
    if (shared) {
      // Above the bound both channels have the codes, each its own scale factors.
      out[3] = out[0];
      out[4] = out[1];
      out[5] = out[2];
    }
  }
}

template <class Reader>
inline void read_granule_codes(const FramePlan& plan, uint32_t* codes, Reader& in) {
  const CodedSubband* shared_from = plan.coded + plan.shared_from;
  read_codes<false>(plan.coded, shared_from, codes, in);
  read_codes<true>(shared_from, plan.coded + plan.coded_count, codes, in);
}

// The four granules of scale-factor part `part`, every value up to the last
// coded subband, those of silent subbands and channels included (their steps
// make +0.0), in the lanes of the synthesis path in use.
void dequantize_part(DecoderContext& ctx, const FramePlan& plan, int part) {
  const int first = kGranulesPerScalePart * part;
  ctx.synthesis.kernel->dequantize(ctx.frame_codes[first], kGranulesPerScalePart, kGranuleValues, plan.msb_reciprocal,
                                   plan.d, plan.c, plan.scale[part], plan.value_count, ctx.frame_samples[first]);
}

// The 64 bits of the stream from bit `offset` after base's first, the first
// of them the top bit. Of a field of up to 16 bits at bit 7 of its byte at
// worst, the 57 bits an eight-byte load is sure to bring hold 23; three, 55.
inline uint64_t bits_from(const uint8_t* base, int offset) {
  uint64_t word;
  memcpy(&word, base + (offset >> 3), sizeof word);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word << (offset & 7);
}

// Each entry's field in every granule of the frame, read at its place, its
// three codes made by codes_of(entry, bits from the field's first, out).
template <class CodesOf>
inline void read_fields_in_place(const CodedSubband* entries, int count, const uint8_t* base, int first_bit,
                                 int granule_bits, uint32_t (&frame_codes)[kGranulesPerFrame][kGranuleValues],
                                 CodesOf codes_of) {
  for (int e = 0; e < count; ++e) {
    const CodedSubband coded = entries[e];
    int bit = first_bit + coded.first_bit;
#pragma GCC unroll 4
    for (int granule = 0; granule < kGranulesPerFrame; ++granule, bit += granule_bits) {
      codes_of(coded, bits_from(base, bit), frame_codes[granule] + coded.first_value);
    }
  }
}

// The frame's codes, each field read at its place: the plan knows where
// every field starts, so the fields are read kind by kind, each on its own,
// with no branch on the kind and no wait for the field before. Entry by
// entry, the same field of every granule.
void read_codes_in_place(const FramePlan& plan, const uint8_t* base, int first_bit,
                         uint32_t (&frame_codes)[kGranulesPerFrame][kGranuleValues]) {
  read_fields_in_place(plan.plain, plan.plain_count, base, first_bit, plan.granule_bits, frame_codes,
                       [](const CodedSubband& coded, uint64_t bits, uint32_t* out) {
                         const int width = coded.width;
                         out[0] = static_cast<uint32_t>(bits >> (64 - width));
                         out[1] = static_cast<uint32_t>(bits << width >> (64 - width));
                         out[2] = static_cast<uint32_t>(bits << 2 * width >> (64 - width));
                       });
  read_fields_in_place(plan.grouped, plan.grouped_count, base, first_bit, plan.granule_bits, frame_codes,
                       [](const CodedSubband& coded, uint64_t bits, uint32_t* out) {
                         unpack_split(coded.splits[bits >> (64 - coded.width)], out);
                       });
  // Above the bound channel 1 has channel 0's codes.
  for (int e = 0; e < plan.shared_count; ++e) {
    for (uint32_t* codes : frame_codes) {
      uint32_t* out = codes + plan.shared[e];
      out[3] = out[0];
      out[4] = out[1];
      out[5] = out[2];
    }
  }
}

// Every granule's codes of the frame, one after another as in the stream.
void read_frame_codes(DecoderContext& ctx, const FramePlan& plan, bool wide) {
  if (!wide) {
    CheckedBitReader in(ctx.bits);
    for (uint32_t* codes : ctx.frame_codes) read_granule_codes(plan, codes, in);
    return;
  }
  // wide_read_fits has checked every byte these loads reach. The partly read
  // byte, if any, is the one before ptr, its first bits already taken.
  const BitReaderState state = take_bit_reader_state(ctx.bits);
  const uint8_t* base = state.bits_left > 0 ? state.ptr - 1 : state.ptr;
  const int first_bit = state.bits_left > 0 ? 8 - static_cast<int>(state.bits_left) : 0;
  read_codes_in_place(plan, base, first_bit, ctx.frame_codes);
  // The reader goes on after the last field, as if it had read them all.
  const int end = first_bit + kGranulesPerFrame * plan.granule_bits;
  const uint8_t* last = base + (end >> 3);
  const int taken = end & 7;
  if (taken == 0) {
    return_bit_reader_state(ctx.bits, BitReaderState{last, 0, 0});
  } else {
    return_bit_reader_state(
        ctx.bits, BitReaderState{last + 1, static_cast<uint32_t>(last[0] << taken & 0xFF), static_cast<uint32_t>(8 - taken)});
  }
}

}  // namespace

void read_side_info(DecoderContext& ctx, int mode, int mode_extension) {
  ctx.bound = ctx.sblimit;
  if (mode == kModeJointStereo && BoundTable[mode_extension] < ctx.sblimit) ctx.bound = BoundTable[mode_extension];
  if (wide_read_fits(ctx.bits, kLongestSideInfoBits)) {
    WideBitReader in(ctx.bits);
    read_side_info_from(ctx, in);
    in.finish();
  } else {
    CheckedBitReader in(ctx.bits);
    read_side_info_from(ctx, in);
  }
}

void read_frame_body(DecoderContext& ctx, int mode, int mode_extension) {
  read_side_info(ctx, mode, mode_extension);
  FramePlan plan;
  plan_frame(ctx, plan);
  // One check for the whole frame: near the end of the input every field
  // goes through read_bits, which reads zeros past the limit. The granules'
  // fields are all the frame has left to read, so reading them all first
  // reads the same bits.
  read_frame_codes(ctx, plan, wide_read_fits(ctx.bits, kGranulesPerFrame * plan.granule_bits));
  for (int part = 0; part < kScaleParts; ++part) {
    plan_scales(ctx, part, plan);
    dequantize_part(ctx, plan, part);
  }
}

void use_alloc_table(DecoderContext& ctx, int32_t bitrate_kbps, int mode) {
  const AllocChoice choice = choose_alloc_table(ctx.sample_rate, bitrate_kbps, mode);
  ctx.sblimit = choice.sblimit;
  ctx.nbal = choice.table->nbal;
  ctx.levels = choice.table->levels;
  ctx.level_classes = choice.table->classes;
}
