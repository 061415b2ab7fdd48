// The header's sample rate when the stream gives none: never 0 Hz.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

struct Converted {
  int result;
  std::vector<uint8_t> wav;
  CapturedLog log;
};

void convert_bytes(const std::vector<uint8_t>& mp2, Converted* out) {
  ScratchDir dir;
  write_file(dir.file("in.mp2"), mp2);
  out->result = decode_file(dir.file("in.mp2"), dir.file("out.wav"), &out->log.pane, nullptr);
  out->wav = read_file(dir.file("out.wav"));
}

TEST(WavHeaderRate, AnInputWithoutFramesGivesAnEmptyFileAt44100Hz) {
  Converted c;
  convert_bytes(std::vector<uint8_t>(5000, 0x42), &c);
  ASSERT_EQ(c.result, 0);
  ASSERT_EQ(c.log.lines.size(), 2u) << c.log.all();
  EXPECT_EQ(c.log.lines[1], "0 frames est 0,  0 written 0 datasize\r\n");
  ASSERT_EQ(c.wav.size(), 44u);
  const WavHeaderFields h = parse_wav_header(c.wav);
  EXPECT_TRUE(h.canonical);
  EXPECT_EQ(h.channels, 1);
  EXPECT_EQ(h.sample_rate, 44100u);
  EXPECT_EQ(h.byte_rate, 88200u);
  EXPECT_EQ(h.riff_size, 36u);
}

TEST(WavHeaderRate, AReservedRateInTheLastFrameKeepsTheStreamsLastRealRate) {
  std::vector<uint8_t> mp2 = read_file(test_data("switch/mono_48k_96k.mp2"));
  const size_t last_frame = 12 * 288;  // 13 frames of 288 bytes
  ASSERT_EQ(mp2[last_frame], 0xFF);
  mp2[last_frame + 2] |= 0x0C;  // sampling-frequency field 3
  Converted c;
  convert_bytes(mp2, &c);
  ASSERT_EQ(c.result, 0);
  EXPECT_EQ(c.log.lines[2], "13 frames est 29952,  29952 written 29952 datasize\r\n");
  const WavHeaderFields h = parse_wav_header(c.wav);
  EXPECT_EQ(h.sample_rate, 48000u);
  EXPECT_EQ(h.byte_rate, 96000u);
}

}  // namespace
