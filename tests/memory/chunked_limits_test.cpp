// A stream decoded in chunks ends as the one pass ends it at the limits the
// file layer in memory reaches cheaply: a canonical file full at 4 GiB, an
// RF64 file past it, a full disk, and a read that fails while the frames are
// listed (the one pass then decodes the stream).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/stream.h"
#include "tests/support/helped_chunks.h"
#include "tests/support/memory_files.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

struct Ending {
  int result;
  std::vector<std::string> lines;
  uint64_t size;
  std::vector<uint8_t> head;
  StreamOutcome outcome;
};

Ending convert(const Bytes& pattern, uint64_t size, int64_t fail_read_at, int64_t fail_write_at,
               const ChunkRunner* runner) {
  MemoryInput input;
  input.pattern = pattern.data();
  input.pattern_length = pattern.size();
  input.size = size;
  input.fail_read_at = fail_read_at;
  MemoryOutput output;
  output.fail_write_at = fail_write_at;
  output.keep = 32u << 20;  // the PCM of frames past 4 GiB of input too
  CapturedLog log;
  std::unique_ptr<PcmBatch> batch(new PcmBatch);
  DecodeRequest request;
  request.input = memory_handle(&input);
  request.output = memory_handle(&output);
  request.log = &log.pane;
  request.batch = batch.get();
  request.runner = runner;
  Ending ending;
  ending.result = decode_stream(request, &ending.outcome);
  for (const std::string& line : log.lines) {
    if (line.compare(0, 17, "wav file written,") != 0) ending.lines.push_back(line);
  }
  ending.size = output.size;
  ending.head = output.head;
  return ending;
}

TEST(ChunkedLimits, EndAsTheOnePassEnds) {
  // Silent 48 kHz stereo frames of 4608 PCM bytes: the first at 384 kbit/s
  // keeps the estimate under 4 GiB, so one frame more than fits ends the
  // canonical file. A first frame at 64 kbit/s before 384 kbit/s ones makes
  // the estimate pass 4 GiB (its length goes 960,000 times into the input): RF64.
  const Bytes full_pattern = silent_frame(rate_byte(14, 1), 0, 0) + repeat(stereo_frame_48k(), 2);
  const uint64_t past_4_gib = (932067 + 1) / 3 * full_pattern.size() + 1152;
  const Bytes rf64_pattern = silent_frame(rate_byte(4, 1), 0, 0) + repeat(silent_frame(rate_byte(14, 1), 0, 0), 1000);
  const Bytes music = read_file(test_data("golden/tl_48k_stereo_192k_music.mp2"));
  // And with noise over a header and 0xFF stuffing in each: a gap and
  // stuffing in every copy, before and after where the disk is full.
  Bytes music_with_gap = music;
  for (size_t i = 576 * 30 - 10; i < 576 * 30 + 30; ++i) music_with_gap[i] = static_cast<uint8_t>(i * 7919 >> 3);
  music_with_gap.insert(music_with_gap.begin() + 576 * 10, 5, 0xFF);
  // Frames far into an input past 4 GiB: each 20 behind a 16 MiB tag, which
  // is read through without a search.
  Bytes far_pattern = {'I', 'D', '3', 3, 0, 0, 8, 0, 0, 0};  // 8 << 21 bytes follow
  far_pattern.resize(far_pattern.size() + (16u << 20), 0);
  far_pattern.insert(far_pattern.end(), music.begin(), music.begin() + 20 * 576);
  struct Case {
    const char* what;
    const Bytes& pattern;
    uint64_t size;
    int64_t fail_read_at;
    int64_t fail_write_at;
    const char* layout;
    const char* last_line;
    bool held = true;  // small enough inputs are kept whole by the listing
  } cases[] = {
      {"one frame past 4 GiB", full_pattern, past_4_gib, -1, -1, "RIFF",
       "ERR: wav file full at 4 GiB, stopped after 932067 frames\r\n"},
      {"RF64", rf64_pattern, 160 * rf64_pattern.size(), -1, -1, "RF64",
       "160160 frames est 738017280,  738017280 written 738017280 datasize\r\n"},
      {"frames past 4 GiB of input", far_pattern, 260 * far_pattern.size(), -1, -1, "RF64",
       "5200 frames est 23961600,  23961600 written 23961600 datasize\r\n"},
      {"a full disk", music_with_gap, 8u << 20, -1, 300002, "RIFF", "ERR 28 writing output wav file\r\n"},
      {"a read failing while listed", music, 8u << 20, 5u << 20, -1, "RIFF", "ERROR 5 reading input\r\n"},
      {"a read failing while listed, in blocks read ahead", music, 8u << 20, 5u << 20, -1, "RIFF",
       "ERROR 5 reading input\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Ending one_pass = convert(c.pattern, c.size, c.fail_read_at, c.fail_write_at, nullptr);
    ASSERT_FALSE(one_pass.lines.empty());
    EXPECT_EQ(one_pass.lines.back(), c.last_line);
    EXPECT_EQ(std::string(one_pass.head.begin(), one_pass.head.begin() + 4), c.layout);
    HelpedChunks chunks(1, 192, c.held);
    const Ending chunked = convert(c.pattern, c.size, c.fail_read_at, c.fail_write_at, chunks.runner());
    EXPECT_EQ(chunked.result, one_pass.result);
    EXPECT_EQ(chunked.lines, one_pass.lines);
    EXPECT_EQ(chunked.size, one_pass.size);
    EXPECT_TRUE(chunked.head == one_pass.head);
    expect_accounts_of_one_pass(chunked.outcome, one_pass.outcome);
    EXPECT_GT(chunks.listed_frames(), 1000u);
  }
}

}  // namespace
