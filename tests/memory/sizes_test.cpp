// Sizes past 32 bits, over the file layer in memory: inputs of gigabytes
// without the disk, and WAV files at their 4 GiB limit.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "decoder/stream.h"
#include "decoder/synthesis.h"
#include "decoder/wav_writer.h"
#include "platform/report_sinks.h"
#include "tests/support/memory_files.h"

namespace {

struct Lines {
  std::vector<std::string> lines;
  LogPaneWindow pane{[](void* self, const char* line) { static_cast<Lines*>(self)->lines.push_back(line); }, this};
};

struct Reports {
  std::vector<std::pair<uint32_t, int32_t>> seen;
  ProgressBarWindow bar{[](void* self, uint32_t done, int32_t total) -> int32_t {
                          static_cast<Reports*>(self)->seen.push_back({done, total});
                          // Like the bar: ask again a thousandth further on.
                          return static_cast<int32_t>(done + static_cast<uint32_t>(total / 1000));
                        },
                        this};
};

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// A context as decode_stream leaves it after `frames` two-channel frames of
// 48 kHz written to `output`.
std::unique_ptr<DecoderContext> context_after(int64_t frames, MemoryOutput* output, Lines* log) {
  auto ctx = std::make_unique<DecoderContext>();
  ctx->log = &log->pane;
  ctx->output = memory_handle(output);
  ctx->frame_count = frames;
  ctx->bytes_written = frames * 4608;
  ctx->two_channel_seen = true;
  ctx->channel_count = 2;
  ctx->sample_rate = 48000;
  ctx->start_tick = memory_clock_ms;
  output->keep = 44;
  output->size = 44 + static_cast<uint64_t>(ctx->bytes_written);
  output->position = output->size;
  return ctx;
}

TEST(Sizes, ProgressReportsStayInRangeForAnInputPastTwoGiB) {
  static const uint8_t zeros[65536] = {};
  MemoryInput input;
  input.pattern = zeros;
  input.pattern_length = sizeof zeros;
  input.size = (2300ull << 20) + 12345;
  MemoryOutput output;
  Lines log;
  Reports progress;
  ASSERT_EQ(decode_stream(&log.pane, memory_handle(&output), memory_handle(&input), &progress.bar), -1);
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[1], "0 frames est 0,  0 written 0 datasize\r\n");

  // Both sides halved: the total fits a signed 32-bit report.
  const int32_t total = static_cast<int32_t>(input.size >> 1);
  ASSERT_GT(progress.seen.size(), 900u);
  for (size_t i = 0; i < progress.seen.size(); ++i) {
    EXPECT_EQ(progress.seen[i].second, total);
    EXPECT_LE(progress.seen[i].first, static_cast<uint32_t>(total));
    if (i > 0) {
      EXPECT_GE(progress.seen[i].first, progress.seen[i - 1].first);
    }
  }
  EXPECT_EQ(progress.seen.back().first, static_cast<uint32_t>(total));
}

TEST(Sizes, TheStatisticsLineCountsPastTwoGiB) {
  MemoryOutput output;
  Lines log;
  auto ctx = context_after(900000, &output, &log);
  ASSERT_EQ(finish_stream(*ctx), 0);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[1], "900000 frames est 4147200000,  4147200000 written 4147200000 datasize\r\n");
  EXPECT_EQ(le32(output.head, 40), 4147200000u);
  EXPECT_EQ(le32(output.head, 4), 4147200036u);
}

TEST(Sizes, AFrameThatWouldPassFourGiBEndsTheFileWithEverythingThatFits) {
  // 932067 frames of 4608 bytes fit behind the header; the next does not.
  const int64_t fitting = (kLargestWavFile - kWavHeaderSize) / 4608;
  ASSERT_EQ(fitting, 932067);
  MemoryOutput output;
  Lines log;
  auto ctx = context_after(fitting - 1, &output, &log);
  ctx->pcm_count = 2304;
  EXPECT_EQ(write_frame_pcm(*ctx), FrameResult::Written);
  ctx->frame_count += 1;
  EXPECT_EQ(write_frame_pcm(*ctx), FrameResult::WavFull);
  EXPECT_EQ(output.size, 44 + static_cast<uint64_t>(fitting) * 4608);

  EXPECT_EQ(abandon_at_wav_limit(*ctx), -1);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0], "ERR: wav file full at 4 GiB, stopped after 932067 frames\r\n");
  EXPECT_EQ(le32(output.head, 40), 4294964736u);
  EXPECT_EQ(le32(output.head, 4), 4294964772u);
  EXPECT_EQ(le32(output.head, 24), 48000u);
}

TEST(Sizes, AReadFailingMidInputEndsWithTheHeaderThenTheError) {
  static const uint8_t zeros[4096] = {};
  MemoryInput input;
  input.pattern = zeros;
  input.pattern_length = sizeof zeros;
  input.size = 3ull << 30;
  input.fail_read_at = 1 << 20;
  MemoryOutput output;
  Lines log;
  EXPECT_EQ(decode_stream(&log.pane, memory_handle(&output), memory_handle(&input), nullptr), -1);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0], "ERROR 5 reading input\r\n");
  ASSERT_EQ(output.size, 44u);
  EXPECT_EQ(le32(output.head, 40), 0u);
  EXPECT_LT(input.position, 2u << 20);  // nothing read after the failure
}

}  // namespace
