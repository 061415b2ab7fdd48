// WAV files past 4 GiB in the RF64 layout, and how the first frame's
// estimate chooses it, over the file layer in memory.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "decoder/stream.h"
#include "decoder/wav_writer.h"
#include "tests/support/little_endian.h"
#include "tests/support/memory_files.h"
#include "tests/support/test_support.h"

namespace {

constexpr uint64_t kGiB = 1ull << 30;

uint32_t le32(const std::vector<uint8_t>& b, size_t at) { return ::le32(b.data() + at); }
uint64_t le64(const std::vector<uint8_t>& b, size_t at) { return le32(b, at) | uint64_t{le32(b, at + 4)} << 32; }
std::string tag(const std::vector<uint8_t>& b, size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

std::vector<uint8_t> golden(const std::string& name) { return read_file(test_data("golden/" + name)); }

// The batch of the contexts below, one at a time.
PcmBatch* test_batch() {
  static std::unique_ptr<PcmBatch> batch(new PcmBatch);
  return batch.get();
}

// A context as decode_stream sets it up, with 48 kHz stereo frames read from
// `input` at `bitrate` and the layout chosen.
std::unique_ptr<DecoderContext> stereo_context(MemoryInput* input, MemoryOutput* output, CapturedLog* log, int bitrate) {
  auto ctx = std::make_unique<DecoderContext>();
  ctx->log = &log->pane;
  ctx->input = memory_handle(input);
  ctx->output = memory_handle(output);
  ctx->batch = test_batch();
  ctx->output_name = "song.wav";
  ctx->two_channel_seen = true;
  ctx->channel_count = 2;
  ctx->sample_rate = 48000;
  ctx->pcm_count = 2304;
  reserve_wav_header(*ctx);
  choose_wav_layout(*ctx, bitrate);
  return ctx;
}

// Writes `frames` frames, each with its number in its first samples.
bool write_numbered_frames(DecoderContext& ctx, int64_t frames) {
  for (int64_t f = 0; f < frames; ++f) {
    for (int i = 0; i < 4; ++i) frame_pcm(ctx)[i] = static_cast<int16_t>(f >> (16 * i));
    if (write_frame_pcm(ctx) != FrameResult::Written) return false;
    ctx.frame_count += 1;
  }
  return true;
}

void expect_rf64_header(const std::vector<uint8_t>& head, uint64_t data, int channels, uint32_t rate) {
  ASSERT_GE(head.size(), 80u);
  EXPECT_EQ(tag(head, 0), "RF64");
  EXPECT_EQ(le32(head, 4), 0xFFFFFFFFu);
  EXPECT_EQ(tag(head, 8), "WAVE");
  EXPECT_EQ(tag(head, 12), "ds64");
  EXPECT_EQ(le32(head, 16), 28u);
  EXPECT_EQ(le64(head, 20), data + 72);
  EXPECT_EQ(le64(head, 28), data);
  EXPECT_EQ(le64(head, 36), data / (2u * channels));
  EXPECT_EQ(le32(head, 44), 0u);
  EXPECT_EQ(tag(head, 48), "fmt ");
  EXPECT_EQ(le32(head, 52), 16u);
  EXPECT_EQ(le32(head, 56), 1u | static_cast<uint32_t>(channels) << 16);
  EXPECT_EQ(le32(head, 60), rate);
  EXPECT_EQ(le32(head, 64), rate * 2 * channels);
  EXPECT_EQ(le32(head, 68), 2u * channels | 16u << 16);
  EXPECT_EQ(tag(head, 72), "data");
  EXPECT_EQ(le32(head, 76), 0xFFFFFFFFu);
}

TEST(Rf64, AnOutputPastFourGiBDeclaresWhatWasWrittenInItsDs64Chunk) {
  MemoryInput input;
  input.size = 40 * kGiB;
  MemoryOutput output;
  CapturedLog log;
  auto ctx = stereo_context(&input, &output, &log, 192);
  ASSERT_EQ(ctx->wav_layout, WavLayout::Rf64);

  // 33 frames more than a canonical file holds.
  const int64_t frames = 932100;
  ASSERT_TRUE(write_numbered_frames(*ctx, frames));
  ASSERT_EQ(finish_stream(*ctx), 0);

  const uint64_t data = static_cast<uint64_t>(frames) * 4608;
  EXPECT_EQ(output.size, 80 + data);
  expect_rf64_header(output.head, data, 2, 48000);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[1], "932100 frames est 4295116800,  4295116800 written 4295116800 datasize\r\n");
  // The PCM starts at 80, frame after frame.
  for (uint64_t f = 0; f < 200; ++f) EXPECT_EQ(le32(output.head, 80 + f * 4608), f) << f;
}

TEST(Rf64, TheFirstFramesEstimateChoosesTheLayout) {
  // 192 kbit/s at 48 kHz: 576-byte frames. 932067 frames fill a canonical
  // file; an input that could hold one more gets RF64.
  const int64_t fits = 932066 * 576 + 575;
  EXPECT_EQ(estimated_wav_size(fits, 192, 48000), 44 + 932067ll * 4608);
  EXPECT_EQ(estimated_wav_size(fits + 1, 192, 48000), 44 + 932068ll * 4608);
  // 128 kbit/s at 44.1 kHz: 417 bytes without the padding byte.
  EXPECT_EQ(estimated_wav_size(417 * 1000, 128, 44100), 44 + 1001ll * 4608);
  // Nothing to go by: a pipe's size, free format, a reserved rate.
  EXPECT_EQ(estimated_wav_size(0, 192, 48000), -1);
  EXPECT_EQ(estimated_wav_size(1000000, 0, 48000), -1);
  EXPECT_EQ(estimated_wav_size(1000000, 192, 0), -1);

  struct Case {
    const char* what;
    uint64_t input_size;
    bool input_seekable;
    int bitrate;
    WavLayout layout;
    uint64_t position;  // where the PCM goes
  } cases[] = {
      {"the largest canonical estimate", fits, true, 192, WavLayout::Canonical, 44},
      {"one byte more", fits + 1, true, 192, WavLayout::Rf64, 80},
      // 3.9 GiB of estimate from a mono stream of half that much PCM.
      {"a mono stream estimated at 3.9 GiB", 3900 * (1ull << 20) / 4608 * 192, true, 64, WavLayout::Canonical, 44},
      {"a source of unknown size", 100 * kGiB, false, 192, WavLayout::Canonical, 44},
      {"a free-format first frame", 100 * kGiB, true, 0, WavLayout::Canonical, 44},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryInput input;
    input.size = c.input_size;
    input.seekable = c.input_seekable;
    MemoryOutput output;
    CapturedLog log;
    auto ctx = stereo_context(&input, &output, &log, c.bitrate);
    EXPECT_EQ(ctx->wav_layout, c.layout);
    EXPECT_EQ(output.position, c.position);
    EXPECT_EQ(output.size, 0u);
  }
}

TEST(Rf64, AFullDiskKeepsWholeSampleFramesOfTheSameSamples) {
  const std::vector<uint8_t> mp2 = golden("tl_48k_stereo_192k_music.mp2");
  MemoryInput alone;
  alone.pattern = mp2.data();
  alone.pattern_length = mp2.size();
  alone.size = mp2.size();
  MemoryOutput canonical;
  CapturedLog canonical_log;
  ASSERT_EQ(decode_handles(&canonical_log.pane, memory_handle(&canonical), memory_handle(&alone), nullptr), 0);

  // The same stream over and over, as if 64 GiB long, on a disk that fills
  // up in the middle of a sample frame.
  MemoryInput input = alone;
  input.position = 0;
  input.size = 64 * kGiB;
  MemoryOutput output;
  output.fail_write_at = 80 + 300002;
  CapturedLog log;
  EXPECT_EQ(decode_handles(&log.pane, memory_handle(&output), memory_handle(&input), nullptr), -1);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[1], "ERR 28 writing output wav file\r\n");
  const uint64_t kept = 300000;
  expect_rf64_header(output.head, kept, 2, 48000);
  ASSERT_GE(output.head.size(), 80 + kept);
  EXPECT_TRUE(std::equal(output.head.begin() + 80, output.head.begin() + 80 + kept, canonical.head.begin() + 44));
  EXPECT_LT(input.position, 4u << 20);  // stopped at the first failed write
}

TEST(Rf64, AReadFailureKeepsEveryWholeFrameBeforeIt) {
  const std::vector<uint8_t> mp2 = golden("tl_48k_stereo_192k_music.mp2");
  MemoryInput input;
  input.pattern = mp2.data();
  input.pattern_length = mp2.size();
  input.size = 64 * kGiB;
  input.fail_read_at = 1 << 20;
  MemoryOutput output;
  CapturedLog log;
  EXPECT_EQ(decode_handles(&log.pane, memory_handle(&output), memory_handle(&input), nullptr), -1);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[1], "ERROR 5 reading input\r\n");
  // 1 MiB holds 1820 whole frames of 576 bytes; the next is cut short.
  const uint64_t data = 1820ull * 4608;
  EXPECT_EQ(output.size, 80 + data);
  expect_rf64_header(output.head, data, 2, 48000);
}

TEST(Rf64, AStreamThatTurnsStereoIsDecodedAgainBehindTheSameHeader) {
  const std::vector<uint8_t> mono = golden("tl_48k_mono_56k_silence.mp2");
  const std::vector<uint8_t> stereo = golden("tl_48k_stereo_192k_music.mp2");
  std::vector<uint8_t> both = mono;
  both.insert(both.end(), stereo.begin(), stereo.end());
  MemoryInput input;
  input.pattern = both.data();
  input.pattern_length = both.size();
  input.size = 64 * kGiB;
  input.fail_read_at = static_cast<int64_t>(both.size());  // one round, then the end
  MemoryOutput output;
  output.keep = 8 << 20;
  CapturedLog log;
  EXPECT_EQ(decode_handles(&log.pane, memory_handle(&output), memory_handle(&input), nullptr), -1);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0], "48000 56k mono\r\n");
  EXPECT_EQ(log.lines[1], "ERROR 5 reading input\r\n");
  // 105 mono frames of 168 bytes and 105 stereo ones, all two-channel.
  const uint64_t data = (105 + 105) * 4608ull;
  EXPECT_EQ(output.size, 80 + data);
  expect_rf64_header(output.head, data, 2, 48000);
}

TEST(Rf64, AnInterruptionLeavesAHeaderForEveryFrameConvertedInEitherLayout) {
  struct Case {
    uint64_t input_size;
    uint32_t header;
  } cases[] = {{100 << 20, 44}, {100 * kGiB, 80}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    MemoryInput input;
    input.size = c.input_size;
    MemoryOutput output;
    output.keep = 2 << 20;
    CapturedLog log;
    auto ctx = stereo_context(&input, &output, &log, 192);
    // More than one batch: some PCM in the file, the rest still to write.
    ASSERT_TRUE(write_numbered_frames(*ctx, 300));
    EXPECT_EQ(finish_interrupted(*ctx), -1);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "ERR: interrupted after 300 frames; song.wav holds the part before\r\n");
    const uint64_t data = 300 * 4608;
    EXPECT_EQ(output.size, c.header + data);
    if (c.header == 80) {
      expect_rf64_header(output.head, data, 2, 48000);
    } else {
      EXPECT_EQ(tag(output.head, 0), "RIFF");
      EXPECT_EQ(le32(output.head, 40), data);
    }
    EXPECT_EQ(le32(output.head, c.header + 299 * 4608), 299u);
  }
}

}  // namespace
