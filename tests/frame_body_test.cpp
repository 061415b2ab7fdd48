// Side information, grouped codes and dequantization of whole frame bodies
// built in memory. A marker after each body proves how many bits were read.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "decoder/bit_reader.h"
#include "decoder/frame_body.h"
#include "decoder/synthesis.h"
#include "tests/support/bit_writer.h"
#include "tests/support/plain_decoder.h"

namespace {

constexpr uint32_t kMarker = 0xB3C5;
constexpr int kScaleOne = 3;  // ScaleFactorTable index of 1.0
constexpr int kScaleTwo = 0;  // index of 2.0

uint64_t bits_of(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

class FrameBody : public ::testing::Test {
 protected:
  std::unique_ptr<DecoderContext> ctx = std::make_unique<DecoderContext>();
  std::vector<uint8_t> bytes;

  void SetUp() override { ctx->synthesis.kernel = &synthesis_kernel(synthesis_path_in_use()); }
  // The table a frame of this rate, bit rate and mode decodes with.
  void choose(int32_t sample_rate, int32_t kbps, FrameMode mode) {
    const AllocChoice choice = choose_alloc_table(sample_rate, kbps, mode);
    ctx->sample_rate = sample_rate;
    ctx->sblimit = choice.sblimit;
    ctx->nbal = choice.table->nbal;
    ctx->levels = choice.table->levels;
    ctx->level_classes = choice.table->classes;
    ctx->channel_count = mode == kSingleChannel ? 1 : 2;
  }
  // Hands the pattern, followed by the marker, to the bit reader.
  void feed(BitWriter pattern) {
    pattern.put(kMarker, 16);
    bytes = pattern.bytes();
    set_bit_limit(ctx->bits, bytes.data() + bytes.size());
    restart_bits(ctx->bits, bytes.data());
  }
  void expect_marker_next() {
    EXPECT_EQ(read_bits(ctx->bits, 16), kMarker);
    EXPECT_FALSE(bits_ran_out(ctx->bits));
  }
  static int at(int sb, int ch, int slot) { return sb * 6 + ch * 3 + slot; }
  double value(int granule, int sb, int ch, int slot) const { return ctx->frame_samples[granule][at(sb, ch, slot)]; }
  uint32_t code(int granule, int sb, int ch, int slot) const { return ctx->frame_codes[granule][at(sb, ch, slot)]; }
};

TEST_F(FrameBody, DequantizeFollowsTheStatedOperationOrderToTheLastBit) {
  // Subband 0 of a 48 kHz mono frame: allocation code 1 is 3 levels, 4 is
  // 31, 15 is 65535. One scale factor for all parts, then the same fields in
  // every granule.
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
    for (int granule = 0; granule < 12; ++granule) {
      for (uint32_t field : c.fields) pattern.put(field, c.width);
    }
    feed(pattern);
    read_frame_body(*ctx, kSingleChannel, 0);
    expect_marker_next();
    for (int granule = 0; granule < 12; ++granule) {
      for (int j = 0; j < 3; ++j) EXPECT_EQ(value(granule, 0, 0, j), c.expected[j]) << granule << " " << j;
    }
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
    const uint32_t fields = 1u << quant.bits;
    const uint32_t per_granule = quant.grouped ? 1 : 3;
    for (int scale : {17, 63}) {
      for (uint32_t first = 0; first < fields; first += 12 * per_granule) {
        BitWriter frame;
        for (int sb = 0; sb < ctx->sblimit; ++sb) frame.put(sb == subband ? alloc_code : 0, ctx->nbal[sb]);
        frame.put(2, 2).put(static_cast<uint32_t>(scale), 6);
        uint32_t codes[12][3];
        for (uint32_t granule = 0; granule < 12; ++granule) {
          const uint32_t next = first + granule * per_granule;
          if (quant.grouped) {
            const uint32_t word = next % fields;
            frame.put(word, quant.bits);
            codes[granule][0] = word % quant.levels;
            codes[granule][1] = word / quant.levels % quant.levels;
            codes[granule][2] = word / quant.levels / quant.levels;
          } else {
            for (uint32_t j = 0; j < 3; ++j) {
              codes[granule][j] = (next + j) % fields;
              frame.put(codes[granule][j], quant.bits);
            }
          }
        }
        feed(frame);
        read_frame_body(*ctx, kSingleChannel, 0);
        ASSERT_EQ(ctx->quant[0][subband], &quant);
        for (int granule = 0; granule < 12; ++granule) {
          for (int j = 0; j < 3; ++j) {
            ASSERT_EQ(bits_of(value(granule, subband, 0, j)),
                      bits_of(stated_dequantize(codes[granule][j], quant, scale)))
                << "code " << codes[granule][j];
          }
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
    for (int granule = 0; granule < 12; ++granule) pattern.put(c.word, static_cast<int>(c.width));
    feed(pattern);
    read_frame_body(*ctx, kSingleChannel, 0);
    expect_marker_next();
    const QuantClass& quant = *ctx->quant[0][3];
    for (int granule = 0; granule < 12; ++granule) {
      for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(code(granule, 3, 0, j), c.expected[j]) << granule;
        EXPECT_EQ(value(granule, 3, 0, j), stated_dequantize(c.expected[j], quant, kScaleOne)) << granule;
      }
    }
  }
}

TEST_F(FrameBody, ScfsiAssignsTheScaleFactorsReadToTheThreePartsOfFourGranules) {
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
    for (int granule = 0; granule < 12; ++granule) pattern.put(26, 5);  // codes 2, 2, 2
    feed(pattern);
    read_frame_body(*ctx, kSingleChannel, 0);
    expect_marker_next();
    for (int part = 0; part < 3; ++part) EXPECT_EQ(ctx->scf[0][0][part], c.parts[part]);
    for (int granule = 0; granule < 12; ++granule) {
      EXPECT_EQ(value(granule, 0, 0, 1), stated_dequantize(2, quant_classes[0], c.parts[granule / 4])) << granule;
    }
  }
}

// Every value of the frame is +0.0, also where the frame before had sound.
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
    // Every subband of both channels at its most levels, every code all ones.
    const std::vector<uint8_t> loud(6000, 0xFF);
    choose(48000, 192, kStereo);
    set_bit_limit(ctx->bits, loud.data() + loud.size());
    restart_bits(ctx->bits, loud.data());
    read_frame_body(*ctx, kStereo, 0);
    ASSERT_NE(value(11, 26, 1, 2), 0.0);

    choose(48000, c.mode == kSingleChannel ? 64 : 192, c.mode);
    BitWriter pattern;
    pattern.zeros(c.bits);
    feed(pattern);
    read_frame_body(*ctx, c.mode, c.mode_extension);
    expect_marker_next();
    for (const double* granule : ctx->frame_samples) {
      for (int i = 0; i < kGranuleValues; ++i) ASSERT_EQ(bits_of(granule[i]), 0u) << i;
    }
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
  // Subband 1: channel 0 none, channel 1 15 levels. Subband 5 (shared): 3 levels.
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
  // Each granule: subband 0 channel 0, subband 1 channel 1, subband 5 once.
  for (int granule = 0; granule < 12; ++granule) {
    pattern.put(26, 5);
    pattern.put(1, 4).put(2, 4).put(14, 4);
    pattern.put(24, 5);  // 24 = 0, 2, 2
  }
  feed(pattern);
  read_frame_body(*ctx, kJointStereo, 0);
  expect_marker_next();
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

  // Granule 8, of the third part.
  EXPECT_EQ(value(8, 0, 0, 0), 0.666666666665);
  EXPECT_EQ(value(8, 0, 1, 0), 0.0);
  EXPECT_EQ(value(8, 1, 0, 0), 0.0);
  // 15 levels at scale factor 0.25: (-7/8 + 0.125) x C x 0.25, and (6/8 + 0.125) x C x 0.25.
  EXPECT_EQ(value(8, 1, 1, 0), -0.19999999999875);
  EXPECT_EQ(value(8, 1, 1, 2), 0.233333333331875);
  // Above the bound both channels decode the same codes, each with its own
  // scale factor: 2.0 against 1.0 makes channel 1 exactly half of channel 0.
  for (int granule = 0; granule < 12; ++granule) {
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(code(granule, 5, 1, j), code(granule, 5, 0, j));
      EXPECT_NE(value(granule, 5, 0, j), 0.0);
      EXPECT_EQ(value(granule, 5, 1, j), value(granule, 5, 0, j) / 2);
    }
  }
  EXPECT_EQ(value(8, 5, 0, 0), -1.33333333333);
}

// Frames of every table and mode: every class (grouped and not), joint
// stereo at each bound and with nothing coded below it, one channel and two.
struct FrameCase {
  int32_t sample_rate;
  int32_t kbps;
  FrameMode mode;
  int mode_extension;
  bool silent_below_bound;
};
const FrameCase kFrameCases[] = {
    {48000, 64, kSingleChannel, 0, false}, {48000, 192, kStereo, 0, false},      {44100, 256, kStereo, 0, false},
    {48000, 192, kJointStereo, 0, false},  {44100, 128, kJointStereo, 2, false}, {48000, 64, kJointStereo, 1, false},
    {44100, 384, kJointStereo, 3, false},  {32000, 32, kSingleChannel, 0, false}, {48000, 64, kDualChannel, 0, false},
    {48000, 56, kDualChannel, 0, false},   {48000, 192, kJointStereo, 0, true},  {44100, 384, kJointStereo, 2, true}};

testing::Message describe(const FrameCase& c, int round) {
  return testing::Message() << c.sample_rate << " Hz " << c.kbps << " kbit/s mode " << c.mode << " extension "
                            << c.mode_extension << (c.silent_below_bound ? ", silent below the bound" : "")
                            << ", round " << round;
}

class FrameBodyOfRandomBits : public FrameBody {
 protected:
  std::mt19937 random{11};

  // A random body `skip` bits into the bytes, with room after it.
  std::vector<uint8_t> random_body(const FrameCase& c, int skip) {
    std::vector<uint8_t> input(6000);
    for (uint8_t& b : input) b = static_cast<uint8_t>(random());
    if (c.silent_below_bound) {
      // The allocations below the bound come first.
      const AllocChoice choice = choose_alloc_table(c.sample_rate, c.kbps, c.mode);
      int bits = 0;
      for (int sb = 0; sb < BoundTable[c.mode_extension] && sb < choice.sblimit; ++sb) {
        bits += 2 * choice.table->nbal[sb];
      }
      for (int bit = skip; bit < skip + bits; ++bit) input[bit / 8] &= static_cast<uint8_t>(~(0x80 >> bit % 8));
    }
    return input;
  }
  // read_frame_body on the body `skip` bits into `input`.
  void read_body(const FrameCase& c, const uint8_t* input, size_t size, int skip) {
    choose(c.sample_rate, c.kbps, c.mode);
    set_bit_limit(ctx->bits, input + size);
    restart_bits(ctx->bits, input);
    if (skip > 0) read_bits(ctx->bits, skip);
    read_frame_body(*ctx, c.mode, c.mode_extension);
  }
  // The side information, the codes of the coded subbands and every value
  // as the plain decoder reads them, and the reader on the byte after them.
  void expect_read_as(const PlainBody& plain, const uint8_t* input) {
    EXPECT_FALSE(bits_ran_out(ctx->bits));
    EXPECT_EQ(static_cast<size_t>(bit_position(ctx->bits) - input), (plain.end_bit + 7) / 8);
    for (int sb = 0; sb < ctx->sblimit; ++sb) {
      for (int ch = 0; ch < ctx->channel_count; ++ch) {
        SCOPED_TRACE(testing::Message() << "subband " << sb << " channel " << ch);
        ASSERT_EQ(ctx->alloc[ch][sb], plain.levels[ch][sb]);
        if (plain.levels[ch][sb] == 0) continue;
        ASSERT_EQ(ctx->quant[ch][sb]->levels, plain.levels[ch][sb]);
        for (int part = 0; part < 3; ++part) ASSERT_EQ(ctx->scf[ch][sb][part], plain.scf[ch][sb][part]);
        for (int granule = 0; granule < 12; ++granule) {
          for (int j = 0; j < 3; ++j) ASSERT_EQ(code(granule, sb, ch, j), plain.codes[granule][at(sb, ch, j)]);
        }
      }
    }
    for (int granule = 0; granule < 12; ++granule) {
      for (int i = 0; i < kGranuleValues; ++i) {
        // Bit for bit: a silent subband holds +0.0, not -0.0.
        ASSERT_EQ(bits_of(ctx->frame_samples[granule][i]), bits_of(plain.values[granule][i]))
            << "granule " << granule << " value " << i;
      }
    }
  }
};

// With input well past the body every field is read in place through the
// wide window, also a few bits into a byte as after a CRC word; the reader
// then goes on with the bits after the last code.
TEST_F(FrameBodyOfRandomBits, ReadsAsThePlainDecoderReadsIt) {
  for (const FrameCase& c : kFrameCases) {
    for (int round = 0; round < 30; ++round) {
      SCOPED_TRACE(describe(c, round));
      const int skip = static_cast<int>(random() % 8);
      const std::vector<uint8_t> input = random_body(c, skip);
      const PlainBody plain = read_plain_body(input.data(), input.size(), static_cast<size_t>(skip), c.sample_rate,
                                              c.kbps, c.mode, c.mode_extension);
      read_body(c, input.data(), input.size(), skip);
      expect_read_as(plain, input.data());
      ASSERT_FALSE(HasFatalFailure());
      const uint32_t next = read_bits(ctx->bits, 13);
      uint32_t expected = 0;
      for (size_t bit = plain.end_bit; bit < plain.end_bit + 13; ++bit) {
        expected = expected << 1 | (input[bit / 8] >> (7 - bit % 8) & 1);
      }
      EXPECT_EQ(next, expected);
    }
  }
}

// With the limit right where the body ends every field goes through
// read_bits instead of the wide window, with the same results. The copy
// holds no byte past its limit, so a read beyond it is caught by
// AddressSanitizer. Cut shorter still, the missing bits read as zeros and
// say so.
TEST_F(FrameBodyOfRandomBits, ReadsTheSameAtTheEndOfTheInput) {
  for (const FrameCase& c : kFrameCases) {
    for (int round = 0; round < 20; ++round) {
      SCOPED_TRACE(describe(c, round));
      const std::vector<uint8_t> input = random_body(c, 0);
      const PlainBody plain =
          read_plain_body(input.data(), input.size(), 0, c.sample_rate, c.kbps, c.mode, c.mode_extension);
      const size_t end = (plain.end_bit + 7) / 8;
      const std::vector<uint8_t> tight(input.begin(), input.begin() + static_cast<long>(end));
      read_body(c, tight.data(), tight.size(), 0);
      expect_read_as(plain, tight.data());
      ASSERT_FALSE(HasFatalFailure());

      const std::vector<uint8_t> cut(input.begin(), input.begin() + static_cast<long>(end / 2));
      read_body(c, cut.data(), cut.size(), 0);
      EXPECT_TRUE(bits_ran_out(ctx->bits));
    }
  }
}

}  // namespace
