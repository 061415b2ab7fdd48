// The per-file entry: the destination's name, opening both files, and one
// line for every way a conversion can fail.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "decoder/stream.h"
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

TEST_F(ConvertFile, ANameWithoutADotIsRefusedAndNothingIsCreated) {
  ASSERT_EQ(mkdir(dir.file("music.old").c_str(), 0755), 0);
  std::string source = put("music.old/track");
  EXPECT_EQ(convert_file(source.c_str()), -1);
  EXPECT_EQ(convert_file("track"), -1);
  EXPECT_EQ(log.all(), "ERR: source file has no '.'\r\nERR: source file has no '.'\r\n");
  EXPECT_FALSE(file_exists(dir.file("music.wav")));
  EXPECT_FALSE(file_exists(dir.file("music.old/track.wav")));
}

TEST_F(ConvertFile, AMissingSourceNamesItselfAndCreatesNoDestination) {
  std::string source = dir.file("absent.mp2");
  EXPECT_EQ(convert_file(source.c_str()), -1);
  EXPECT_EQ(log.all(), "ERR 2 opening " + source + "\r\n");
  EXPECT_FALSE(file_exists(dir.file("absent.wav")));
}

TEST_F(ConvertFile, ADirectoryIsNoSource) {
  ASSERT_EQ(mkdir(dir.file("folder.mp2").c_str(), 0755), 0);
  EXPECT_EQ(convert_file(dir.file("folder.mp2").c_str()), -1);
  EXPECT_EQ(log.all(), "ERR 21 opening " + dir.file("folder.mp2") + "\r\n");
}

TEST_F(ConvertFile, ADestinationThatCannotBeCreatedIsNamed) {
  std::string source = put("blocked.mp2");
  ASSERT_EQ(mkdir(dir.file("blocked.wav").c_str(), 0755), 0);  // even root can't open a folder for writing
  EXPECT_EQ(convert_file(source.c_str()), -1);
  EXPECT_EQ(log.all(), "ERR 21 opening " + dir.file("blocked.wav") + "\r\n");
}

TEST_F(ConvertFile, AnExistingDestinationIsReplaced) {
  write_file(dir.file("again.wav"), Bytes(100000, 0x77));
  ASSERT_EQ(convert_file(put("again.mp2").c_str()), 0);
  EXPECT_EQ(read_file(dir.file("again.wav")).size(), 44u + 3 * 2304u);
}

TEST_F(ConvertFile, AWavSourceIsRefusedBeforeItCanBeEmptied) {
  const Bytes original = repeat(mono_frame_48k(), 3);
  for (const char* name : {"take.wav", "take2.WAV"}) {
    std::string source = put(name, original);
    EXPECT_EQ(convert_file(source.c_str()), -1);
    EXPECT_EQ(read_file(source), original);
  }
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0], "ERR: source file is already a .wav file: " + dir.file("take.wav") + "\r\n");
}

TEST_F(ConvertFile, PathsTooLongForTheBufferAreRefusedWithOneLine) {
  std::string source(2000, 'a');
  source += ".mp2";
  EXPECT_EQ(convert_file(source.c_str()), -1);
  EXPECT_EQ(log.all(), "ERR: source path is longer than 1027 characters\r\n");
}

TEST_F(ConvertFile, AnEmptySourceLeavesNoDestinationBehind) {
  std::string source = put("empty.mp2", Bytes{});
  EXPECT_EQ(convert_file(source.c_str()), -1);
  EXPECT_EQ(log.all(), "ERROR 0 reading input\r\n");
  EXPECT_FALSE(file_exists(dir.file("empty.wav")));
}

TEST_F(ConvertFile, WithoutALogPaneFailuresAreSilent) {
  current_log_pane = nullptr;
  EXPECT_EQ(convert_file("track"), -1);
  EXPECT_EQ(convert_file(dir.file("absent.mp2").c_str()), -1);
  EXPECT_TRUE(log.lines.empty());
}

TEST(DecodeStream, AFailedFrameWriteStopsWithTheSystemsNumber) {
  ScratchDir dir;
  write_file(dir.file("in.mp2"), repeat(mono_frame_48k(), 5));
  int in = open(dir.file("in.mp2").c_str(), O_RDONLY);
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  CapturedLog log;
  EXPECT_EQ(decode_stream(&log.pane, full, in, nullptr), -1);
  EXPECT_EQ(log.lines.back(), "ERR 28 writing output wav file\r\n");
  close(full);

  // A descriptor opened for reading only refuses the write the same way.
  write_file(dir.file("out.wav"), Bytes{});
  int read_only = open(dir.file("out.wav").c_str(), O_RDONLY);
  lseek(in, 0, SEEK_SET);
  CapturedLog second;
  EXPECT_EQ(decode_stream(&second.pane, read_only, in, nullptr), -1);
  EXPECT_EQ(second.lines.back(), "ERR 9 writing output wav file\r\n");
  close(read_only);
  close(in);
}

}  // namespace
