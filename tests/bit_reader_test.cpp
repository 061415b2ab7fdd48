// The bit reader: most significant bit first, straight out of the buffer.
#include <gtest/gtest.h>

#include "decoder/bit_reader.h"

namespace {

TEST(BitReader, ReadsAcrossByteBoundariesMostSignificantBitFirst) {
  const uint8_t bytes[] = {0xAB, 0xCD};
  set_bit_limit(bytes + sizeof bytes);
  restart_bits(bytes);
  EXPECT_EQ(read_bits(4), 0xAu);
  EXPECT_EQ(read_bits(8), 0xBCu);
  // The partly read byte is abandoned: scanning resumes after it.
  EXPECT_EQ(bit_position(), bytes + 2);
  EXPECT_EQ(read_bits(4), 0xDu);
  EXPECT_FALSE(bits_ran_out());
}

TEST(BitReader, SixteenBitsAfterRestartAreABigEndianWord) {
  const uint8_t bytes[] = {0x12, 0x34, 0x56};
  set_bit_limit(bytes + sizeof bytes);
  restart_bits(bytes);
  EXPECT_EQ(read_bits(16), 0x1234u);
  EXPECT_EQ(bit_position(), bytes + 2);
  // The next byte is only taken by the next read.
  EXPECT_EQ(read_bits(8), 0x56u);
}

TEST(BitReader, SingleBitsComeOutInOrderAndAThreeByteSpanJoins) {
  const uint8_t bytes[] = {0xA5, 0xFF, 0x00, 0xC0};
  set_bit_limit(bytes + sizeof bytes);
  restart_bits(bytes);
  uint32_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = bits << 1 | read_bits(1);
  EXPECT_EQ(bits, 0xA5u);
  EXPECT_EQ(bit_position(), bytes + 1);

  restart_bits(bytes);
  read_bits(5);  // 3 bits of 0xA5 left: 101
  // 3 leftover bits, all 8 of 0xFF, then 2 of 0x00: 101 11111111 00.
  EXPECT_EQ(read_bits(13), 0x17FCu);
  EXPECT_EQ(bit_position(), bytes + 3);
}

TEST(BitReader, PastTheLimitItReadsZerosAndNeverMovesBeyondIt) {
  const uint8_t bytes[] = {0xFF, 0xEE, 0xDD};
  set_bit_limit(bytes + 1);  // only the first byte is valid
  restart_bits(bytes);
  EXPECT_EQ(read_bits(4), 0xFu);
  EXPECT_FALSE(bits_ran_out());
  EXPECT_EQ(read_bits(8), 0xF0u);
  EXPECT_TRUE(bits_ran_out());
  EXPECT_EQ(read_bits(16), 0u);
  EXPECT_EQ(bit_position(), bytes + 1);
  restart_bits(bytes);
  EXPECT_FALSE(bits_ran_out());
}

}  // namespace
