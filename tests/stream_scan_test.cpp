// Finding frames: the byte-wise sync search, headers, CRC words, the table
// chosen by the first frame and the progress reports along the way.
#include <gtest/gtest.h>

#include "decoder/stream.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

TEST(SyncSearch, FindsFramesOnlyAtFfFcAndFfFdPairs) {
  const Bytes body = mono_frame_48k();
  Conversion one = convert_bytes(Bytes{0x00, 0x12} + body);
  EXPECT_EQ(one.lines.front(), "48000 64k mono\r\n");
  EXPECT_EQ(one.statistics(), statistics_line(1, 1));

  // FF FF FD: the second FF ends the attempt begun by the first, and the FD is ignored.
  Bytes doubled = Bytes{0xFF} + body;
  EXPECT_EQ(convert_bytes(doubled).statistics(), statistics_line(0, 1));

  // Layer I (FE, FF), Layer III (FA, FB) and MPEG-2 (F4, F5) second bytes are no frame.
  for (uint8_t second : {0xFE, 0xFA, 0xFB, 0xF4, 0xF5}) {
    Bytes other = body;
    other[1] = second;
    Conversion c = convert_bytes(other);
    EXPECT_EQ(c.lines.size(), 2u) << int(second);  // no stream line
    EXPECT_EQ(c.statistics(), statistics_line(0, 1)) << int(second);
  }
}

TEST(SyncSearch, AnFfBeforeARefillPairsWithTheFirstByteAfterIt) {
  // The byte at 7392 is the last one examined before fewer than 800 remain
  // and the buffer is topped up; its partner lands at the front of the buffer.
  Bytes stream(7392, 0x00);
  stream = stream + mono_frame_48k() + Bytes(9000, 0x00);
  Conversion c = convert_bytes(stream);
  EXPECT_EQ(c.statistics(), statistics_line(1, 1));
}

TEST(SyncSearch, InputWithoutAnyFrameStillGetsAHeaderAndZeroStatistics) {
  Conversion c = convert_bytes(Bytes(20000, 0x5A));
  EXPECT_EQ(c.result, 0);
  ASSERT_EQ(c.lines.size(), 2u);
  EXPECT_EQ(c.lines[0].rfind("wav file written, ", 0), 0u);
  EXPECT_EQ(c.lines[1], statistics_line(0, 1));
  ASSERT_EQ(c.wav.size(), 44u);
  EXPECT_EQ(c.wav[4] | c.wav[5] << 8, 36);  // RIFF size
  EXPECT_EQ(c.wav[22], 1);                  // one channel
}

TEST(FrameHeader, ACrcWordIsSkippedWhateverItHolds) {
  // The CRC bytes FF FD would start a frame if they were scanned, and would
  // allocate every subband if they were read as the body.
  Bytes with_crc = silent_frame(rate_byte(4, 1), 3, 11, true, 0xFFFD);
  Conversion c = convert_bytes(with_crc);
  EXPECT_EQ(c.statistics(), statistics_line(1, 1));
  EXPECT_EQ(c.wav.size(), 44u + 2304u);
}

TEST(FrameHeader, LaterHeadersKeepTheFirstTableButSetTheSampleRate) {
  // 48 kHz mono, then 32 kHz mono at 48 kbit/s, which alone would pick the
  // 12-subband table: it is read with the first frame's 27 subbands.
  Bytes later = silent_frame(rate_byte(3, 2), 3, 11);
  Conversion c = convert_bytes(mono_frame_48k() + later + mono_frame_48k() + later);
  EXPECT_EQ(c.lines.front(), "48000 64k mono\r\n");
  EXPECT_EQ(c.lines.size(), 3u);
  EXPECT_EQ(c.statistics(), statistics_line(4, 1));
  EXPECT_EQ(c.wav[24] | c.wav[25] << 8 | c.wav[26] << 16, 32000);
}

struct TableCase {
  int sample_rate;
  int bitrate;
  int mode;
  int table_id;
  int sblimit;
};

TEST(AllocationTable, TheFirstFrameChoosesByRateAndBitsPerChannel) {
  const TableCase cases[] = {
      {48000, 192, 0, 0, 27}, {48000, 64, 3, 0, 27},  {48000, 64, 1, 2, 8},  {44100, 128, 1, 0, 27},
      {44100, 256, 0, 1, 30}, {44100, 96, 3, 1, 30},  {32000, 48, 3, 3, 12}, {32000, 192, 2, 1, 30},
      {44100, 0, 0, 2, 8},    {32000, 0, 3, 3, 12},   {48000, 384, 3, 0, 27}, {32000, 160, 0, 0, 27},
  };
  for (const TableCase& t : cases) {
    static DecoderContext ctx;
    ctx.sample_rate = t.sample_rate;
    choose_alloc_table(ctx, t.bitrate, t.mode);
    EXPECT_EQ(ctx.table_id, t.table_id) << t.sample_rate << " " << t.bitrate << " " << t.mode;
    EXPECT_EQ(ctx.sblimit, t.sblimit) << t.sample_rate << " " << t.bitrate << " " << t.mode;
  }
}

TEST(Progress, ReportsOnlyPastTheThresholdTheBarReturned) {
  RecordedProgress progress;
  progress.answer = [](uint32_t done, int32_t) -> int32_t { return static_cast<int32_t>(done) + 20000; };
  Bytes stream = repeat(mono_frame_48k(), 6000);  // 90000 bytes
  Conversion c = convert_bytes(stream, &progress.bar);
  ASSERT_GE(progress.reports.size(), 3u);
  EXPECT_EQ(progress.reports.front().done, 8192u);  // the first read
  for (const auto& r : progress.reports) EXPECT_EQ(r.total, 90000);
  // Between the first and the closing report, each one passed the last answer.
  for (size_t i = 1; i + 1 < progress.reports.size(); ++i) {
    EXPECT_GT(progress.reports[i].done, progress.reports[i - 1].done + 20000);
  }
  EXPECT_EQ(progress.reports.back().done, 90000u);
  EXPECT_LE(progress.reports.size(), 6u);
}

TEST(Progress, NoBarMeansNoReportsAndTheSameFile) {
  Bytes stream = repeat(stereo_frame_48k(), 50);
  RecordedProgress progress;
  Conversion with_bar = convert_bytes(stream, &progress.bar);
  Conversion without = convert_bytes(stream);
  EXPECT_FALSE(progress.reports.empty());
  EXPECT_EQ(with_bar.wav, without.wav);
}

}  // namespace
