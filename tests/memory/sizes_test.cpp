// Sizes past 32 bits, over the file layer in memory: inputs of gigabytes
// without the disk, and WAV files at their 4 GiB limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/stream.h"
#include "decoder/wav_writer.h"
#include "platform/report_sinks.h"
#include "tests/support/memory_files.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

TEST(Sizes, ProgressReportsStayInRangeForAnInputPastTwoGiB) {
  static const uint8_t zeros[65536] = {};
  MemoryInput input;
  input.pattern = zeros;
  input.pattern_length = sizeof zeros;
  input.size = (2300ull << 20) + 12345;
  MemoryOutput output;
  CapturedLog log;
  RecordedProgress progress;
  // Like the bar: ask again a thousandth further on.
  progress.answer = [](uint32_t done, int32_t total) { return static_cast<int32_t>(done + static_cast<uint32_t>(total / 1000)); };
  ASSERT_EQ(decode_handles(&log.pane, memory_handle(&output), memory_handle(&input), &progress.bar), -1);
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[1], "0 frames est 0,  0 written 0 datasize\r\n");
  EXPECT_EQ(log.lines[2], "ERR: no MPEG audio frames found\r\n");

  // Both sides halved: the total fits a signed 32-bit report.
  const int32_t total = static_cast<int32_t>(input.size >> 1);
  ASSERT_GT(progress.reports.size(), 900u);
  for (size_t i = 0; i < progress.reports.size(); ++i) {
    EXPECT_EQ(progress.reports[i].total, total);
    EXPECT_LE(progress.reports[i].done, static_cast<uint32_t>(total));
    if (i > 0) {
      EXPECT_GE(progress.reports[i].done, progress.reports[i - 1].done);
    }
  }
  EXPECT_EQ(progress.reports.back().done, static_cast<uint32_t>(total));
}

// Silent two-channel frames at 48 kHz, 4608 PCM bytes each, cheap to decode:
// one at 384 kbit/s (1152 bytes), then two at 128 kbit/s (384 bytes), over
// and over. The first frame's length makes the estimate of the WAV file's
// size well under 4 GiB, so the file keeps the canonical header however many
// frames follow. 932067 of them fit behind that header, one more does not.
const Bytes kFramePattern = silent_frame(rate_byte(14, 1), 0, 0) + repeat(stereo_frame_48k(), 2);
constexpr uint64_t kFramesThatFit = (kLargestWavFile - kWavHeaderSize) / 4608;
static_assert(kFramesThatFit == 932067, "the largest WAV file holds 932067 such frames");

struct LargeConversion {
  int result;
  CapturedLog log;
  MemoryOutput output;
};

void convert_silent_frames(uint64_t frames, LargeConversion* c) {
  static const uint64_t first_frames_bytes[3] = {0, 1152, 1152 + 384};
  MemoryInput input;
  input.pattern = kFramePattern.data();
  input.pattern_length = kFramePattern.size();
  input.size = frames / 3 * kFramePattern.size() + first_frames_bytes[frames % 3];
  c->output.keep = kWavHeaderSize;
  c->result = decode_handles(&c->log.pane, memory_handle(&c->output), memory_handle(&input), nullptr);
}

TEST(Sizes, AStreamThatFillsTheWavFileToItsLimitIsCountedPastThirtyTwoBits) {
  LargeConversion c;
  convert_silent_frames(kFramesThatFit, &c);
  ASSERT_EQ(c.result, 0);
  ASSERT_EQ(c.log.lines.size(), 3u);
  EXPECT_EQ(c.log.lines[2], "932067 frames est 4294964736,  4294964736 written 4294964736 datasize\r\n");
  EXPECT_EQ(c.output.size, 4294964780u);
  const WavHeaderFields h = parse_wav_header(c.output.head);
  EXPECT_EQ(h.data_size, 4294964736u);
  EXPECT_EQ(h.riff_size, 4294964772u);
}

TEST(Sizes, AFrameThatWouldPassFourGiBEndsTheFileWithEverythingThatFits) {
  LargeConversion c;
  convert_silent_frames(kFramesThatFit + 1, &c);
  EXPECT_EQ(c.result, -1);
  ASSERT_EQ(c.log.lines.size(), 2u);
  EXPECT_EQ(c.log.lines[1], "ERR: wav file full at 4 GiB, stopped after 932067 frames\r\n");
  EXPECT_EQ(c.output.size, 4294964780u);
  const WavHeaderFields h = parse_wav_header(c.output.head);
  EXPECT_TRUE(h.canonical);
  EXPECT_EQ(h.channels, 2);
  EXPECT_EQ(h.sample_rate, 48000u);
  EXPECT_EQ(h.data_size, 4294964736u);
  EXPECT_EQ(h.riff_size, 4294964772u);
}

TEST(Sizes, APipeGoesOnPastFourGiB) {
  // One frame more than a WAV file holds, into an output that can't seek.
  LargeConversion c;
  c.output.seekable = false;
  convert_silent_frames(kFramesThatFit + 1, &c);
  ASSERT_EQ(c.result, 0);
  ASSERT_EQ(c.log.lines.size(), 3u);
  EXPECT_EQ(c.log.lines[2], "932068 frames est 4294969344,  4294969344 written 4294969344 datasize\r\n");
  EXPECT_EQ(c.output.size, 4294969388u);
  // The header went first, with the sizes readers take as unknown.
  const WavHeaderFields h = parse_wav_header(c.output.head);
  EXPECT_TRUE(h.canonical);
  EXPECT_EQ(h.channels, 2);
  EXPECT_EQ(h.sample_rate, 48000u);
  EXPECT_EQ(h.riff_size, 0xFFFFFFFFu);
  EXPECT_EQ(h.data_size, 0xFFFFFFFFu);
}

TEST(Sizes, AReadFailingMidInputEndsWithTheHeaderThenTheError) {
  static const uint8_t zeros[4096] = {};
  MemoryInput input;
  input.pattern = zeros;
  input.pattern_length = sizeof zeros;
  input.size = 3ull << 30;
  input.fail_read_at = 1 << 20;
  MemoryOutput output;
  CapturedLog log;
  EXPECT_EQ(decode_handles(&log.pane, memory_handle(&output), memory_handle(&input), nullptr), -1);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0], "ERROR 5 reading input\r\n");
  ASSERT_EQ(output.size, 44u);
  EXPECT_EQ(parse_wav_header(output.head).data_size, 0u);
  EXPECT_LT(input.position, 2u << 20);  // nothing read after the failure
}

}  // namespace
