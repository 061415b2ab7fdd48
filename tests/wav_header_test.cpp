// The 44-byte header written over the reserved gap at the end of a conversion.
#include <gtest/gtest.h>

#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

WavHeaderFields convert_and_read_header(const Bytes& stream, std::string* statistics = nullptr, int result = 0) {
  const Conversion c = convert_bytes(stream);
  EXPECT_EQ(c.result, result);
  const WavHeaderFields h = parse_wav_header(c.wav);
  EXPECT_TRUE(h.canonical);
  EXPECT_EQ(h.data_size + 44, c.wav.size());
  if (statistics) *statistics = c.statistics();
  return h;
}

TEST(WavHeader, MonoFramesAt44100) {
  std::string statistics;
  WavHeaderFields h = convert_and_read_header(repeat(silent_frame(rate_byte(4, 0), 3, 11), 100), &statistics);
  EXPECT_EQ(h.riff_size, 230436u);
  EXPECT_EQ(h.channels, 1u);
  EXPECT_EQ(h.sample_rate, 44100u);
  EXPECT_EQ(h.byte_rate, 88200u);
  EXPECT_EQ(h.block_align, 2u);
  EXPECT_EQ(h.data_size, 230400u);
  EXPECT_EQ(statistics, "100 frames est 230400,  230400 written 230400 datasize\r\n");
}

TEST(WavHeader, StereoFramesAt48000) {
  std::string statistics;
  WavHeaderFields h = convert_and_read_header(repeat(stereo_frame_48k(), 10), &statistics);
  EXPECT_EQ(h.riff_size, 46116u);
  EXPECT_EQ(h.channels, 2u);
  EXPECT_EQ(h.byte_rate, 192000u);
  EXPECT_EQ(h.block_align, 4u);
  EXPECT_EQ(h.data_size, 46080u);
  EXPECT_EQ(statistics, "10 frames est 46080,  46080 written 46080 datasize\r\n");
}

TEST(WavHeader, OneTwoChannelFrameMakesTheWholeFileStereo) {
  // From the first stereo frame on, mono frames are written into both channels.
  WavHeaderFields h = convert_and_read_header(repeat(stereo_frame_48k(), 2) + repeat(mono_frame_48k(), 3));
  EXPECT_EQ(h.channels, 2u);
  EXPECT_EQ(h.data_size, 5u * 4608u);
}

TEST(WavHeader, DeclaresTheRateOfTheFramesWrittenOr44100WithoutAny) {
  // A header with the reserved sampling-frequency index is no frame, so it
  // can't change the rate, cut off at the end or not.
  Bytes reserved = silent_frame(rate_byte(4, 3), 3, 11);
  std::string statistics;
  EXPECT_EQ(convert_and_read_header(repeat(mono_frame_48k(), 2) + reserved, &statistics).sample_rate, 48000u);
  EXPECT_EQ(statistics, "2 frames est 4608,  4608 written 4608 datasize\r\n");
  // A stereo frame cut short after mono ones leaves one channel.
  const Bytes stereo_44k = silent_frame(rate_byte(8, 0), 0, 0);
  const Bytes cut_stereo(stereo_44k.begin(), stereo_44k.begin() + 100);
  WavHeaderFields h = convert_and_read_header(repeat(silent_frame(rate_byte(4, 0), 3, 0), 2) + cut_stereo);
  EXPECT_EQ(h.sample_rate, 44100u);
  EXPECT_EQ(h.channels, 1u);
  EXPECT_EQ(convert_and_read_header(reserved, nullptr, -1).sample_rate, 44100u);
  EXPECT_EQ(convert_and_read_header(Bytes(100, 0), nullptr, -1).sample_rate, 44100u);
}

}  // namespace
