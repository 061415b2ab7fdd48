// Side information, grouped codes and dequantization, fed bit patterns built
// in memory. A marker after each pattern proves how many bits were read.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "decoder/bit_reader.h"
#include "decoder/frame_body.h"
#include "decoder/stream.h"
#include "tests/support/bit_writer.h"

namespace {

constexpr uint32_t kMarker = 0xB3C5;
constexpr int kScaleOne = 3;  // ScaleFactorTable index of 1.0
constexpr int kScaleTwo = 0;  // index of 2.0

// Dequantization as the standard states it: sign term, fraction, then D, C
// and the scale factor, one rounding each.
double stated_dequantize(uint32_t code, const QuantClass& quant, int scale_factor_index) {
  uint32_t power = 1;
  while (power < quant.levels) power <<= 1;
  const uint32_t msb = power / 2;
  const double sign = (code & msb) != 0 ? 0.0 : -1.0;
  const double fraction = static_cast<double>(code & (msb - 1)) / msb;
  double value = sign + fraction;
  value = value + quant.d;
  value = value * quant.c;
  return value * ScaleFactorTable[scale_factor_index];
}

uint64_t bits_of(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

class FrameBody : public ::testing::Test {
 protected:
  std::unique_ptr<DecoderContext> ctx = std::make_unique<DecoderContext>();
  std::vector<uint8_t> bytes;

  // The stream's table as a first frame of this rate, bit rate and mode picks it.
  void choose(int32_t sample_rate, int32_t kbps, FrameMode mode) {
    ctx->sample_rate = sample_rate;
    choose_alloc_table(*ctx, kbps, mode);
    ctx->channel_count = mode == kSingleChannel ? 1 : 2;
  }
  // Hands the pattern, followed by the marker, to the bit reader.
  void feed(BitWriter pattern) {
    pattern.put(kMarker, 16);
    bytes = pattern.bytes();
    set_bit_limit(bytes.data() + bytes.size());
    restart_bits(bytes.data());
  }
  void expect_marker_next() {
    EXPECT_EQ(read_bits(16), kMarker);
    EXPECT_FALSE(bits_ran_out());
  }
  const QuantClass& quant_for(uint32_t levels) { return *find_quant_class(levels); }
};

TEST_F(FrameBody, DequantizeFollowsTheStatedOperationOrderToTheLastBit) {
  // Subband 0 of a 48 kHz mono frame: allocation code 1 is 3 levels, 4 is
  // 31, 15 is 65535. One scale factor for all parts, then one granule.
  struct Case {
    uint32_t alloc_code;
    int scale_index;
    std::vector<uint32_t> fields;  // a grouped word, or three codes
    int width;
    double expected[3];
  };
  const Case cases[] = {
      {1, kScaleOne, {21}, 5, {-0.666666666665, 0.0, 0.666666666665}},  // 21 = codes 0, 1, 2
      {15, kScaleTwo, {0, 0x8000, 0xFFFF}, 16, {-1.9999694819486633, 6.103609133672714e-05, 2.00003051804375}},
      // Multiplying by C first and the scale factor last: C x scale factor
      // first would end in ...663.
      {4, 1, {5, 5, 5}, 5, {-1.0241297109510661, -1.0241297109510661, -1.0241297109510661}},
      {1, 63, {21}, 5, {-0.666666666665 * 1.0e-20, 0.0, 0.666666666665 * 1.0e-20}},
      // 27 = codes 0, 0, 3: the quotient past the 3 levels still dequantizes by the formula.
      {1, kScaleOne, {27}, 5, {-0.666666666665, -0.666666666665, 1.33333333333}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "allocation " << c.alloc_code << " scale " << c.scale_index);
    choose(48000, 64, kSingleChannel);
    BitWriter pattern;
    pattern.put(c.alloc_code, 4).zeros(88 - 4).put(2, 2).put(static_cast<uint32_t>(c.scale_index), 6);
    for (uint32_t field : c.fields) pattern.put(field, c.width);
    feed(pattern);
    read_side_info(*ctx, kSingleChannel, 0);
    decode_granule(*ctx, 0);
    expect_marker_next();
    for (int j = 0; j < 3; ++j) EXPECT_EQ(ctx->granule_samples[0][0][j], c.expected[j]) << j;
  }
}

// Every code of every class, three to a granule (or every word of a grouped
// class), against the stated formula, bit for bit.
TEST_F(FrameBody, EveryCodeOfEveryClassDequantizesAsStated) {
  for (const QuantClass& quant : quant_classes) {
    SCOPED_TRACE(quant.levels);
    choose(48000, 64, kSingleChannel);
    // Subbands 0-2 reach 16383 and 32767 levels, 3-10 reach 5 and 9.
    int subband = -1;
    uint32_t alloc_code = 0;
    for (int sb : {0, 3}) {
      for (uint32_t code = 1; code < 16 && subband < 0; ++code) {
        if (static_cast<uint32_t>(ctx->levels[sb][code]) == quant.levels) {
          subband = sb;
          alloc_code = code;
        }
      }
    }
    ASSERT_GE(subband, 0);
    for (int scale : {17, 63}) {
      BitWriter side;
      for (int sb = 0; sb < ctx->sblimit; ++sb) side.put(sb == subband ? alloc_code : 0, ctx->nbal[sb]);
      side.put(2, 2).put(static_cast<uint32_t>(scale), 6);
      feed(side);
      read_side_info(*ctx, kSingleChannel, 0);
      ASSERT_EQ(ctx->quant[0][subband], &quant);

      const uint32_t fields = 1u << quant.bits;
      for (uint32_t first = 0; first < fields; first += quant.grouped ? 1 : 3) {
        BitWriter granule;
        uint32_t codes[3];
        if (quant.grouped) {
          granule.put(first, quant.bits);
          codes[0] = first % quant.levels;
          codes[1] = first / quant.levels % quant.levels;
          codes[2] = first / quant.levels / quant.levels;
        } else {
          for (uint32_t j = 0; j < 3; ++j) {
            codes[j] = (first + j) % fields;
            granule.put(codes[j], quant.bits);
          }
        }
        feed(granule);
        decode_granule(*ctx, 0);
        for (int j = 0; j < 3; ++j) {
          ASSERT_EQ(bits_of(ctx->granule_samples[subband][0][j]), bits_of(stated_dequantize(codes[j], quant, scale)))
              << "code " << codes[j];
        }
      }
    }
  }
}

TEST_F(FrameBody, GroupedCodeWordsSplitLowestFirstAndKeepThePlainQuotient) {
  struct Case {
    uint32_t alloc_code;  // subband 3: codes 1, 2 and 4 are 3, 5 and 9 levels
    uint32_t width;
    uint32_t word;
    uint32_t expected[3];
  };
  // The last word of each width gives its class's largest quotient.
  const Case cases[] = {{1, 5, 26, {2, 2, 2}},   {1, 5, 31, {1, 1, 3}},  {2, 7, 124, {4, 4, 4}},
                        {2, 7, 127, {2, 0, 5}}, {4, 10, 728, {8, 8, 8}}, {4, 10, 1023, {6, 5, 12}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    choose(48000, 64, kSingleChannel);
    BitWriter pattern;
    pattern.zeros(12).put(c.alloc_code, 4).zeros(88 - 16);  // subbands 0-2, then 3
    pattern.put(2, 2).put(kScaleOne, 6);
    pattern.put(c.word, static_cast<int>(c.width));
    feed(pattern);
    read_side_info(*ctx, kSingleChannel, 0);
    decode_granule(*ctx, 0);
    expect_marker_next();
    EXPECT_EQ(ctx->codes[3][0][0], c.expected[0]);
    EXPECT_EQ(ctx->codes[3][0][1], c.expected[1]);
    EXPECT_EQ(ctx->codes[3][0][2], c.expected[2]);
    const QuantClass& quant = *ctx->quant[0][3];
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(ctx->granule_samples[3][0][j], stated_dequantize(c.expected[j], quant, kScaleOne));
    }
  }
}

TEST_F(FrameBody, ScfsiAssignsTheScaleFactorsReadToTheThreeParts) {
  struct Case {
    uint32_t scfsi;
    std::vector<uint32_t> read;
    uint8_t parts[3];
  };
  const Case cases[] = {
      {0, {10, 20, 30}, {10, 20, 30}},  // one per part
      {1, {10, 20}, {10, 10, 20}},      // granules 0-7, then 8-11
      {2, {10}, {10, 10, 10}},          // all twelve
      {3, {10, 20}, {10, 20, 20}},      // granules 0-3, then 4-11
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scfsi);
    choose(48000, 64, kSingleChannel);
    BitWriter pattern;
    pattern.put(1, 4).zeros(88 - 4).put(c.scfsi, 2);
    for (uint32_t value : c.read) pattern.put(value, 6);
    feed(pattern);
    read_side_info(*ctx, kSingleChannel, 0);
    expect_marker_next();
    EXPECT_EQ(ctx->scf[0][0][0], c.parts[0]);
    EXPECT_EQ(ctx->scf[0][0][1], c.parts[1]);
    EXPECT_EQ(ctx->scf[0][0][2], c.parts[2]);
  }
}

TEST_F(FrameBody, AllocationsOfZeroReadOnlyTheAllocationCodes) {
  struct Case {
    FrameMode mode;
    int mode_extension;
    int bits;
  };
  // 27 subbands: 11 of 4 bits, 12 of 3, 4 of 2 = 88 per channel; joint
  // stereo with bound 4 reads subbands 0-3 twice.
  const Case cases[] = {{kSingleChannel, 0, 88}, {kStereo, 0, 176}, {kStereo, 3, 176},
                        {kDualChannel, 2, 176},  {kJointStereo, 0, 104}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " extension " << c.mode_extension);
    choose(48000, c.mode == kSingleChannel ? 64 : 192, c.mode);
    BitWriter pattern;
    pattern.zeros(c.bits);
    feed(pattern);
    read_side_info(*ctx, c.mode, c.mode_extension);
    for (int part = 0; part < 3; ++part) {
      decode_granule(*ctx, part);
      for (int sb = 0; sb < ctx->sblimit; ++sb) {
        for (int ch = 0; ch < ctx->channel_count; ++ch) ASSERT_EQ(ctx->granule_samples[sb][ch][1], 0.0);
      }
    }
    expect_marker_next();
  }
}

TEST_F(FrameBody, JointStereoBoundIsCappedAtTheCodedSubbands) {
  // 48 kHz joint stereo at 64 kbit/s codes 8 subbands; bounds 12 and 16 are
  // past them, so the frame reads like stereo: 8 subbands (2 of 4 bits, 6 of
  // 3) x 2 channels = 52 bits.
  for (int extension : {2, 3}) {
    choose(48000, 64, kJointStereo);
    ASSERT_EQ(ctx->sblimit, 8);
    BitWriter pattern;
    pattern.zeros(52);
    feed(pattern);
    read_side_info(*ctx, kJointStereo, extension);
    EXPECT_EQ(ctx->bound, 8);
    expect_marker_next();
  }
  choose(48000, 64, kJointStereo);
  BitWriter pattern;
  pattern.zeros((4 + 4 + 3 + 3) * 2 + 4 * 3);  // bound 4: subbands 0-3 per channel, 4-7 shared
  feed(pattern);
  read_side_info(*ctx, kJointStereo, 0);
  EXPECT_EQ(ctx->bound, 4);
  expect_marker_next();
}

TEST_F(FrameBody, JointStereoReadsEachFieldInTheStatedOrder) {
  // 27 subbands, bound 4. Subband 0: channel 0 has 3 levels, channel 1 none.
  // Subband 1: channel 0 none, channel 1 7 levels. Subband 5 (shared): 3 levels.
  choose(48000, 192, kJointStereo);
  BitWriter pattern;
  pattern.put(1, 4).put(0, 4);                // subband 0, channel 0 then 1
  pattern.put(0, 4).put(3, 4);                // subband 1: code 3 of subbands 0-2 is 15 levels
  pattern.zeros(4 * 4);                       // subbands 2-3, both channels
  pattern.put(0, 4).put(1, 4).zeros(5 * 4);   // subbands 4-10, one code each
  pattern.zeros(12 * 3 + 4 * 2);              // subbands 11-26
  pattern.put(2, 2);                          // scfsi: subband 0 channel 0
  pattern.put(0, 2);                          // subband 1 channel 1
  pattern.put(2, 2).put(2, 2);                // subband 5, channels 0 and 1
  pattern.put(kScaleOne, 6);                  // subband 0 channel 0
  pattern.put(7, 6).put(8, 6).put(9, 6);      // subband 1 channel 1
  pattern.put(kScaleTwo, 6).put(kScaleOne, 6);  // subband 5, channels 0 and 1
  // One granule: subband 0 channel 0, subband 1 channel 1, subband 5 once.
  pattern.put(26, 5);
  pattern.put(1, 4).put(2, 4).put(14, 4);
  pattern.put(24, 5);  // 24 = 0, 2, 2
  feed(pattern);
  read_side_info(*ctx, kJointStereo, 0);
  ASSERT_EQ(ctx->bound, 4);
  EXPECT_EQ(ctx->alloc[0][0], 3u);
  EXPECT_EQ(ctx->alloc[1][0], 0u);
  EXPECT_EQ(ctx->alloc[0][1], 0u);
  EXPECT_EQ(ctx->alloc[1][1], 15u);
  EXPECT_EQ(ctx->alloc[0][5], 3u);
  EXPECT_EQ(ctx->alloc[1][5], 3u);
  EXPECT_EQ(ctx->quant[1][1]->bits, 4);
  EXPECT_EQ(ctx->scf[1][1][0], 7);
  EXPECT_EQ(ctx->scf[1][1][2], 9);
  EXPECT_EQ(ctx->scf[0][5][2], kScaleTwo);
  EXPECT_EQ(ctx->scf[1][5][2], kScaleOne);
  decode_granule(*ctx, 2);
  expect_marker_next();

  EXPECT_EQ(ctx->granule_samples[0][0][0], 0.666666666665);
  EXPECT_EQ(ctx->granule_samples[0][1][0], 0.0);
  EXPECT_EQ(ctx->granule_samples[1][0][0], 0.0);
  // 15 levels at scale factor 0.25: (-7/8 + 0.125) x C x 0.25, and (6/8 + 0.125) x C x 0.25.
  EXPECT_EQ(ctx->granule_samples[1][1][0], -0.19999999999875);
  EXPECT_EQ(ctx->granule_samples[1][1][2], 0.233333333331875);
  // Above the bound both channels decode the same codes, each with its own
  // scale factor: 2.0 against 1.0 makes channel 1 exactly half of channel 0.
  for (int j = 0; j < 3; ++j) {
    EXPECT_NE(ctx->granule_samples[5][0][j], 0.0);
    EXPECT_EQ(ctx->granule_samples[5][1][j], ctx->granule_samples[5][0][j] / 2);
  }
  EXPECT_EQ(ctx->granule_samples[5][0][0], -1.33333333333);
}

// Frames of every table and mode: every class (grouped and not), joint
// stereo at each bound, one channel and two.
struct FrameCase {
  int32_t sample_rate;
  int32_t kbps;
  FrameMode mode;
  int mode_extension;
};
const FrameCase kFrameCases[] = {
    {48000, 64, kSingleChannel, 0}, {48000, 192, kStereo, 0},       {44100, 256, kStereo, 0},
    {48000, 192, kJointStereo, 0},  {44100, 128, kJointStereo, 2},  {48000, 64, kJointStereo, 1},
    {44100, 384, kJointStereo, 3},  {32000, 32, kSingleChannel, 0}, {48000, 64, kDualChannel, 0},
    {48000, 56, kDualChannel, 0}};

// Random bodies in every mode and table, decoded with the input going on
// well past them and again with the limit right where they end: near the
// limit every field is read through read_bits instead of the wide window,
// and the results must be the same. Every value is checked against the
// stated formula. The tight copy holds no byte past its limit, so a read
// beyond it is caught by AddressSanitizer.
TEST_F(FrameBody, ABodyAtTheEndOfTheInputDecodesAsOneWithInputAfterIt) {
  std::mt19937 random(11);
  for (const FrameCase& c : kFrameCases) {
    for (int round = 0; round < 20; ++round) {
      SCOPED_TRACE(testing::Message() << c.kbps << " kbit/s mode " << c.mode << " round " << round);
      std::vector<uint8_t> input(6000);
      for (uint8_t& b : input) b = static_cast<uint8_t>(random());

      struct Decoded {
        std::vector<uint8_t> side;  // alloc and scale factors
        std::vector<uint8_t> granules;
        size_t bytes_read;
        bool ran_out;
      };
      auto decode = [&](const uint8_t* bytes, size_t size, bool check_values, Decoded& out) {
        choose(c.sample_rate, c.kbps, c.mode);
        set_bit_limit(bytes + size);
        restart_bits(bytes);
        read_side_info(*ctx, c.mode, c.mode_extension);
        out.side.resize(sizeof ctx->alloc + sizeof ctx->scf);
        memcpy(out.side.data(), ctx->alloc, sizeof ctx->alloc);
        memcpy(out.side.data() + sizeof ctx->alloc, ctx->scf, sizeof ctx->scf);
        for (int granule = 0; granule < 12; ++granule) {
          decode_granule(*ctx, granule / 4);
          const uint8_t* codes = reinterpret_cast<const uint8_t*>(ctx->codes);
          const uint8_t* values = reinterpret_cast<const uint8_t*>(ctx->granule_samples);
          out.granules.insert(out.granules.end(), codes, codes + sizeof ctx->codes);
          out.granules.insert(out.granules.end(), values, values + sizeof ctx->granule_samples);
          for (int sb = 0; check_values && sb < ctx->sblimit; ++sb) {
            for (int ch = 0; ch < ctx->channel_count; ++ch) {
              for (int j = 0; j < 3; ++j) {
                const double expected = ctx->alloc[ch][sb] == 0 ? 0.0
                                                                : stated_dequantize(ctx->codes[sb][ch][j], *ctx->quant[ch][sb],
                                                                                    ctx->scf[ch][sb][granule / 4]);
                // Bit for bit: a silent subband holds +0.0, not -0.0.
                ASSERT_EQ(bits_of(ctx->granule_samples[sb][ch][j]), bits_of(expected)) << sb << " " << ch << " " << j;
              }
            }
          }
        }
        out.bytes_read = static_cast<size_t>(bit_position() - bytes);
        out.ran_out = bits_ran_out();
      };
      Decoded roomy;
      decode(input.data(), input.size(), true, roomy);
      ASSERT_FALSE(HasFatalFailure());
      ASSERT_FALSE(roomy.ran_out);
      std::vector<uint8_t> tight(input.begin(), input.begin() + static_cast<long>(roomy.bytes_read));
      Decoded at_end;
      decode(tight.data(), tight.size(), false, at_end);
      EXPECT_FALSE(at_end.ran_out);
      EXPECT_EQ(at_end.bytes_read, roomy.bytes_read);
      EXPECT_EQ(at_end.side, roomy.side);
      EXPECT_EQ(at_end.granules, roomy.granules);
      // Cut shorter still, the missing bits read as zeros and say so.
      std::vector<uint8_t> cut(input.begin(), input.begin() + static_cast<long>(roomy.bytes_read / 2));
      Decoded cut_short;
      decode(cut.data(), cut.size(), false, cut_short);
      EXPECT_TRUE(cut_short.ran_out);
    }
  }
}

// The whole frame's codes, read field by field at their places far from the
// end of the input and in stream order near it, are the codes decode_granule
// reads one granule after another, and the reader ends on the same bit.
TEST_F(FrameBody, AFramesCodesReadAtOnceAreThoseReadGranuleByGranule) {
  std::mt19937 random(23);
  for (const FrameCase& c : kFrameCases) {
    for (int round = 0; round < 30; ++round) {
      SCOPED_TRACE(testing::Message() << c.kbps << " kbit/s mode " << c.mode << " round " << round);
      std::vector<uint8_t> input(6000);
      for (uint8_t& b : input) b = static_cast<uint8_t>(random());
      // At the start of the frame or a few bits into a byte, as after a CRC.
      const int skip = static_cast<int>(random() % 8);

      choose(c.sample_rate, c.kbps, c.mode);
      set_bit_limit(input.data() + input.size());
      restart_bits(input.data());
      if (skip > 0) read_bits(skip);
      read_side_info(*ctx, c.mode, c.mode_extension);
      std::vector<uint32_t> expected;
      for (int granule = 0; granule < 12; ++granule) {
        decode_granule(*ctx, granule / 4);
        for (int sb = 0; sb < ctx->sblimit; ++sb) {
          for (int ch = 0; ch < ctx->channel_count; ++ch) {
            for (int j = 0; j < 3; ++j) expected.push_back(ctx->alloc[ch][sb] == 0 ? 0 : ctx->codes[sb][ch][j]);
          }
        }
      }
      const size_t end = static_cast<size_t>(bit_position() - input.data());
      const uint32_t next = read_bits(13);

      // Roomy, then cut right after the frame's bytes, where the fields go
      // through the checked reads.
      for (size_t size : {input.size(), end}) {
        SCOPED_TRACE(testing::Message() << "input of " << size << " bytes");
        std::vector<uint8_t> bytes(input.begin(), input.begin() + static_cast<long>(size));
        choose(c.sample_rate, c.kbps, c.mode);
        set_bit_limit(bytes.data() + bytes.size());
        restart_bits(bytes.data());
        if (skip > 0) read_bits(skip);
        read_frame_fields(*ctx, c.mode, c.mode_extension);
        std::vector<uint32_t> got;
        for (int granule = 0; granule < 12; ++granule) {
          for (int sb = 0; sb < ctx->sblimit; ++sb) {
            for (int ch = 0; ch < ctx->channel_count; ++ch) {
              for (int j = 0; j < 3; ++j) {
                got.push_back(ctx->alloc[ch][sb] == 0 ? 0 : ctx->frame_codes[granule][sb * 6 + ch * 3 + j]);
              }
            }
          }
        }
        ASSERT_EQ(got, expected);
        EXPECT_FALSE(bits_ran_out());
        EXPECT_EQ(static_cast<size_t>(bit_position() - bytes.data()), end);
        if (size == input.size()) {
          EXPECT_EQ(read_bits(13), next);
        }
      }
    }
  }
}

}  // namespace
