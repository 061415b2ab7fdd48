// The per-file entry when it converts: the destination's name beside the
// source, an old destination replaced, and the log pane it reports to. How
// it fails is in file_failures_test.cpp, one test for each limit.
#include <gtest/gtest.h>

#include <memory>

#include "convert/convert.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

class ConvertFile : public ::testing::Test {
 protected:
  void SetUp() override {
    setup.log = &log.pane;
    setup.batch = batch.get();
  }
  int convert(const std::string& source) { return convert_file(source.c_str(), setup); }

  std::string put(const std::string& name, const Bytes& bytes = repeat(mono_frame_48k(), 3)) {
    write_file(dir.file(name), bytes);
    return dir.file(name);
  }

  ScratchDir dir;
  CapturedLog log;
  std::unique_ptr<PcmBatch> batch{new PcmBatch};
  ConversionSetup setup;
};

TEST_F(ConvertFile, ReplacesTheExtensionWhateverItsLengthOrCase) {
  const char* cases[][2] = {
      {"song.mp2", "song.wav"}, {"live.2014.mpeg", "live.2014.wav"}, {"song.MP2", "song.wav"}, {"track.", "track.wav"}};
  for (const auto& c : cases) {
    ASSERT_EQ(convert(put(c[0])), 0) << c[0] << log.all();
    EXPECT_TRUE(file_exists(dir.file(c[1]))) << c[1];
  }
}

TEST_F(ConvertFile, AnExistingDestinationIsReplaced) {
  write_file(dir.file("again.wav"), Bytes(100000, 0x77));
  ASSERT_EQ(convert(put("again.mp2")), 0);
  EXPECT_EQ(read_file(dir.file("again.wav")).size(), 44u + 3 * 2304u);
}

TEST_F(ConvertFile, EachConversionReportsToThePaneItIsGiven) {
  const std::string absent = dir.file("absent.mp2");
  EXPECT_EQ(convert("track"), -1);
  EXPECT_EQ(log.all(), "ERR: source file has no '.'\r\n");

  // No pane: failures are still failures, and say nothing anywhere.
  setup.log = nullptr;
  EXPECT_EQ(convert("track"), -1);
  EXPECT_EQ(convert(absent), -1);
  EXPECT_EQ(log.lines.size(), 1u);

  // Another pane: the next conversion's lines go there.
  CapturedLog other;
  setup.log = &other.pane;
  EXPECT_EQ(convert(absent), -1);
  EXPECT_EQ(other.all(), "ERR 2 opening " + absent + "\r\n");
  EXPECT_EQ(log.lines.size(), 1u);
  ASSERT_EQ(convert(put("song.mp2")), 0);
  EXPECT_EQ(other.lines.size(), 4u);
  EXPECT_EQ(log.lines.size(), 1u);
}

}  // namespace
