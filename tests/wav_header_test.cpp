// The 44-byte header written over the reserved gap at the end of a conversion.
#include <gtest/gtest.h>

#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

WavHeaderFields convert_and_read_header(const Bytes& stream, std::string* statistics = nullptr) {
  const Conversion c = convert_bytes(stream);
  EXPECT_EQ(c.result, 0);
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

TEST(WavHeader, NeverDeclaresZeroHertz) {
  // The reserved sampling-frequency index reads as 0 Hz: the header keeps the
  // stream's last real rate, or 44100 when there never was one.
  Bytes reserved = silent_frame(rate_byte(4, 3), 3, 11);
  EXPECT_EQ(convert_and_read_header(mono_frame_48k() + reserved).sample_rate, 48000u);
  EXPECT_EQ(convert_and_read_header(reserved).sample_rate, 44100u);
  EXPECT_EQ(convert_and_read_header(Bytes(100, 0)).sample_rate, 44100u);
}

}  // namespace
