// The bit reader: most significant bit first, straight out of the buffer.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decoder/bit_reader.h"

namespace {

TEST(BitReader, ReadsAcrossByteBoundariesMostSignificantBitFirst) {
  BitReader reader;
  const uint8_t bytes[] = {0xAB, 0xCD};
  set_bit_limit(reader, bytes + sizeof bytes);
  restart_bits(reader, bytes);
  EXPECT_EQ(read_bits(reader, 4), 0xAu);
  EXPECT_EQ(read_bits(reader, 8), 0xBCu);
  // The partly read byte is abandoned: scanning resumes after it.
  EXPECT_EQ(bit_position(reader), bytes + 2);
  EXPECT_EQ(read_bits(reader, 4), 0xDu);
  EXPECT_FALSE(bits_ran_out(reader));
}

TEST(BitReader, SixteenBitsAfterRestartAreABigEndianWord) {
  BitReader reader;
  const uint8_t bytes[] = {0x12, 0x34, 0x56};
  set_bit_limit(reader, bytes + sizeof bytes);
  restart_bits(reader, bytes);
  EXPECT_EQ(read_bits(reader, 16), 0x1234u);
  EXPECT_EQ(bit_position(reader), bytes + 2);
  // The next byte is only taken by the next read.
  EXPECT_EQ(read_bits(reader, 8), 0x56u);
}

TEST(BitReader, SingleBitsComeOutInOrderAndAThreeByteSpanJoins) {
  BitReader reader;
  const uint8_t bytes[] = {0xA5, 0xFF, 0x00, 0xC0};
  set_bit_limit(reader, bytes + sizeof bytes);
  restart_bits(reader, bytes);
  uint32_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = bits << 1 | read_bits(reader, 1);
  EXPECT_EQ(bits, 0xA5u);
  EXPECT_EQ(bit_position(reader), bytes + 1);

  restart_bits(reader, bytes);
  read_bits(reader, 5);  // 3 bits of 0xA5 left: 101
  // 3 leftover bits, all 8 of 0xFF, then 2 of 0x00: 101 11111111 00.
  EXPECT_EQ(read_bits(reader, 13), 0x17FCu);
  EXPECT_EQ(bit_position(reader), bytes + 3);
}

TEST(BitReader, PastTheLimitItReadsZerosAndNeverMovesBeyondIt) {
  BitReader reader;
  const uint8_t bytes[] = {0xFF, 0xEE, 0xDD};
  set_bit_limit(reader, bytes + 1);  // only the first byte is valid
  restart_bits(reader, bytes);
  EXPECT_EQ(read_bits(reader, 4), 0xFu);
  EXPECT_FALSE(bits_ran_out(reader));
  EXPECT_EQ(read_bits(reader, 8), 0xF0u);
  EXPECT_TRUE(bits_ran_out(reader));
  EXPECT_EQ(read_bits(reader, 16), 0u);
  EXPECT_EQ(bit_position(reader), bytes + 1);
  restart_bits(reader, bytes);
  EXPECT_FALSE(bits_ran_out(reader));
}

}  // namespace

namespace {

// Random widths over random bytes, starting at every bit offset of a byte.
TEST(BitReader, AWideReaderDeliversExactlyWhatReadBitsWould) {
  BitReader reader;
  std::mt19937 random(7);
  std::vector<uint8_t> bytes(600);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  set_bit_limit(reader, bytes.data() + bytes.size());
  for (int offset = 0; offset < 8; ++offset) {
    SCOPED_TRACE(offset);
    std::vector<int> widths;
    for (int i = 0; i < 200; ++i) widths.push_back(1 + static_cast<int>(random() % 16));

    restart_bits(reader, bytes.data());
    if (offset > 0) read_bits(reader, offset);
    std::vector<uint32_t> expected;
    for (int width : widths) expected.push_back(read_bits(reader, width));
    const uint8_t* expected_end = bit_position(reader);
    const uint32_t expected_next = read_bits(reader, 11);

    restart_bits(reader, bytes.data());
    if (offset > 0) read_bits(reader, offset);
    ASSERT_TRUE(wide_read_fits(reader, 16 * 200));
    WideBitReader in(reader);
    std::vector<uint32_t> got;
    for (size_t i = 0; i < widths.size();) {
      if (i % 5 == 0 && i + 3 <= widths.size()) {
        // Three fields after one refill, as plain sample codes are read.
        in.need(48);
        for (int k = 0; k < 3; ++k) got.push_back(in.take_ready(widths[i++]));
      } else {
        got.push_back(in.take(widths[i++]));
      }
    }
    in.finish();
    EXPECT_EQ(got, expected);
    EXPECT_EQ(bit_position(reader), expected_end);
    // The cache handed back goes on where the window stopped.
    EXPECT_EQ(read_bits(reader, 11), expected_next);
    EXPECT_FALSE(bits_ran_out(reader));
  }
}

TEST(BitReader, WideReadsFitOnlyWithTheirMarginBeforeTheLimit) {
  BitReader reader;
  uint8_t bytes[64] = {};
  set_bit_limit(reader, bytes + 40);
  restart_bits(reader, bytes);
  const int room = 8 * (40 - kWideReadMargin);
  EXPECT_TRUE(wide_read_fits(reader, room));
  EXPECT_FALSE(wide_read_fits(reader, room + 1));
  // Bits still in the cache need no bytes: 5 of them after a 3-bit read.
  read_bits(reader, 3);
  EXPECT_TRUE(wide_read_fits(reader, room - 8 + 5));
  EXPECT_FALSE(wide_read_fits(reader, room - 8 + 6));
}

}  // namespace
