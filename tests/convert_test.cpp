// The per-file entry when it converts: the destination's name beside the
// source, an old destination replaced, and the log pane it reports to. How
// it fails is in file_failures_test.cpp, one test for each limit.
#include <gtest/gtest.h>

#include "shell/convert.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

class ConvertFile : public ::testing::Test {
 protected:
  void SetUp() override {
    current_log_pane = &log.pane;
    current_progress_bar = nullptr;
  }
  void TearDown() override { current_log_pane = nullptr; }

  std::string put(const std::string& name, const Bytes& bytes = repeat(mono_frame_48k(), 3)) {
    write_file(dir.file(name), bytes);
    return dir.file(name);
  }

  ScratchDir dir;
  CapturedLog log;
};

TEST_F(ConvertFile, ReplacesTheExtensionWhateverItsLengthOrCase) {
  const char* cases[][2] = {
      {"song.mp2", "song.wav"}, {"live.2014.mpeg", "live.2014.wav"}, {"song.MP2", "song.wav"}, {"track.", "track.wav"}};
  for (const auto& c : cases) {
    ASSERT_EQ(convert_file(put(c[0]).c_str()), 0) << c[0] << log.all();
    EXPECT_TRUE(file_exists(dir.file(c[1]))) << c[1];
  }
}

TEST_F(ConvertFile, AnExistingDestinationIsReplaced) {
  write_file(dir.file("again.wav"), Bytes(100000, 0x77));
  ASSERT_EQ(convert_file(put("again.mp2").c_str()), 0);
  EXPECT_EQ(read_file(dir.file("again.wav")).size(), 44u + 3 * 2304u);
}

TEST_F(ConvertFile, EachConversionReportsToThePaneInstalledWhenItStarts) {
  const std::string absent = dir.file("absent.mp2");
  EXPECT_EQ(convert_file("track"), -1);
  EXPECT_EQ(log.all(), "ERR: source file has no '.'\r\n");

  // No pane: failures are still failures, and say nothing anywhere.
  current_log_pane = nullptr;
  EXPECT_EQ(convert_file("track"), -1);
  EXPECT_EQ(convert_file(absent.c_str()), -1);
  EXPECT_EQ(log.lines.size(), 1u);

  // Another pane: the next conversion's lines go there.
  CapturedLog other;
  current_log_pane = &other.pane;
  EXPECT_EQ(convert_file(absent.c_str()), -1);
  EXPECT_EQ(other.all(), "ERR 2 opening " + absent + "\r\n");
  EXPECT_EQ(log.lines.size(), 1u);
  ASSERT_EQ(convert_file(put("song.mp2").c_str()), 0);
  EXPECT_EQ(other.lines.size(), 4u);
  EXPECT_EQ(log.lines.size(), 1u);
}

}  // namespace
