// Every way a file can fail, on real files: one line, result -1, no source
// harmed, and what was converted stays a playable WAV file.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "decoder/stream.h"
#include "shell/convert.h"
#include "tests/support/test_support.h"

namespace {

const char kStream[] = "golden/tl_48k_jstereo_64k_music.mp2";

struct Conversion {
  int result;
  CapturedLog log;
};

void convert(const std::string& source, Conversion* c) {
  current_log_pane = &c->log.pane;
  current_progress_bar = nullptr;
  c->result = convert_file(source.c_str());
  current_log_pane = nullptr;
}

void expect_one_line(const Conversion& c, const std::string& line) {
  EXPECT_EQ(c.result, -1);
  ASSERT_EQ(c.log.lines.size(), 1u) << c.log.all();
  EXPECT_EQ(c.log.lines[0], line);
}

std::string errno_line(int code, const std::string& path) {
  return "ERR " + std::to_string(code) + " opening " + path + "\r\n";
}

// Writes into `path` until the file system has no room left.
void fill_up(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char> block(4096, 'x');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  close(fd);
}

// Missing files, folders, .wav sources and empty files: see the command-line tests.
TEST(SourceFailures, NamesWithoutExtensionAndPathsTooLongCreateNothing) {
  ScratchDir dir;
  mkdir(dir.file("music.old").c_str(), 0755);
  write_file(dir.file("music.old/track"), read_file(test_data(kStream)));

  struct Case {
    std::string source;
    std::string line;
  } cases[] = {
      {dir.file("music.old/track"), "ERR: source file has no '.'\r\n"},
      {std::string(1100, 'a') + ".mp2", "ERR: source path is longer than 1027 characters\r\n"},
      // Fits as a source, but its destination would not.
      {std::string(1025, 'a') + ".m", "ERR: destination path is longer than 1027 characters\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source.substr(0, 80));
    Conversion result;
    convert(c.source, &result);
    expect_one_line(result, c.line);
  }
  EXPECT_FALSE(file_exists(dir.file("music.wav")));
  EXPECT_FALSE(file_exists(dir.file("music.old/track.wav")));
}

TEST(DestinationFailures, ADestinationThatIsTheSourceUnderAnotherNameIsRefused) {
  ScratchDir dir;
  const std::vector<uint8_t> bytes = read_file(test_data(kStream));
  write_file(dir.file("linked.mp2"), bytes);
  ASSERT_EQ(symlink("linked.mp2", dir.file("linked.wav").c_str()), 0);
  write_file(dir.file("hard.mp2"), bytes);
  ASSERT_EQ(link(dir.file("hard.mp2").c_str(), dir.file("hard.wav").c_str()), 0);
  for (const char* name : {"linked", "hard"}) {
    SCOPED_TRACE(name);
    Conversion c;
    convert(dir.file(std::string(name) + ".mp2"), &c);
    expect_one_line(c, "ERR: " + dir.file(std::string(name) + ".wav") + " is the source file itself\r\n");
    EXPECT_EQ(read_file(dir.file(std::string(name) + ".mp2")), bytes);
  }
}

TEST(DestinationFailures, ADestinationThatCantBeCreatedIsNamedAndNothingElseChanges) {
  ScratchDir dir;
  const std::vector<uint8_t> bytes = read_file(test_data(kStream));
  write_file(dir.file("song.mp2"), bytes);
  mkdir(dir.file("song.wav").c_str(), 0755);  // in the way
  Conversion c;
  convert(dir.file("song.mp2"), &c);
  expect_one_line(c, errno_line(EISDIR, dir.file("song.wav")));
  EXPECT_EQ(read_file(dir.file("song.mp2")), bytes);

  // A read-only file system refuses even root.
  ScratchDir mount_point;
  SmallFilesystem fs(mount_point.path(), 1 << 20);
  if (!fs.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root; the command-line tests cover a read-only folder";
  write_file(mount_point.file("song.mp2"), bytes);
  ASSERT_TRUE(fs.make_read_only());
  Conversion ro;
  convert(mount_point.file("song.mp2"), &ro);
  expect_one_line(ro, errno_line(EROFS, mount_point.file("song.wav")));
  EXPECT_EQ(read_file(mount_point.file("song.mp2")), bytes);
}

TEST(DiskFull, WhatFitsStaysAPlayableFileWithAMatchingHeader) {
  ScratchDir reference_dir;
  CapturedLog reference_log;
  ASSERT_EQ(decode_file(test_data(kStream), reference_dir.file("all.wav"), &reference_log.pane, nullptr), 0);
  const std::vector<int16_t> all = wav_samples(read_file(reference_dir.file("all.wav")));

  ScratchDir mount_point;
  SmallFilesystem fs(mount_point.path(), 128 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root; /dev/full is tested below";
  write_file(mount_point.file("song.mp2"), read_file(test_data(kStream)));
  Conversion c;
  convert(mount_point.file("song.mp2"), &c);
  ASSERT_EQ(c.log.lines.size(), 2u) << c.log.all();
  EXPECT_EQ(c.log.lines[1], "ERR 28 writing output wav file\r\n");
  EXPECT_EQ(c.result, -1);

  const std::vector<uint8_t> wav = read_file(mount_point.file("song.wav"));
  const WavHeaderFields h = parse_wav_header(wav);
  EXPECT_TRUE(h.canonical);
  EXPECT_EQ(h.channels, 2);
  EXPECT_EQ(h.sample_rate, 48000u);
  EXPECT_GT(h.data_size, 40000u);
  EXPECT_EQ(h.data_size % 4, 0u);
  EXPECT_LE(h.data_size + 44, wav.size());
  EXPECT_EQ(h.riff_size, h.data_size + 36);
  // What is in the file is the start of the whole conversion, undamaged.
  const std::vector<int16_t> kept = wav_samples(wav);
  ASSERT_LE(kept.size(), all.size());
  EXPECT_TRUE(std::equal(kept.begin(), kept.begin() + h.data_size / 2, all.begin()));

  // With no room at all not even the header fits: still one line.
  fill_up(mount_point.file("filler"));
  Conversion full;
  convert(mount_point.file("song.mp2"), &full);
  ASSERT_EQ(full.log.lines.size(), 2u) << full.log.all();
  EXPECT_EQ(full.log.lines[1], "ERR 28 writing output wav file\r\n");
  EXPECT_EQ(full.result, -1);
}

TEST(DiskFull, ADeviceThatIsAlwaysFullGivesOneLine) {
  ScratchDir dir;
  write_file(dir.file("no_frames.mp2"), std::vector<uint8_t>(5000, 0x42));
  // The first frame's write fails; with no frame, the header's own writes do.
  for (const std::string& input : {test_data(kStream), dir.file("no_frames.mp2")}) {
    SCOPED_TRACE(input);
    CapturedLog log;
    int in = open(input.c_str(), O_RDONLY);
    int out = open("/dev/full", O_WRONLY);
    ASSERT_GE(out, 0);
    EXPECT_EQ(decode_stream(&log.pane, out, in, nullptr), -1);
    close(in);
    close(out);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines.back(), "ERR 28 writing output wav file\r\n");
    EXPECT_EQ(log.lines.size(), input == dir.file("no_frames.mp2") ? 1u : 2u) << log.all();
  }
}

// A terminal's master side reads what was written to the other side, then
// fails with EIO once that side has closed: a read failing mid-input.
TEST(ReadFailures, AReadFailingMidInputKeepsWhatWasDecodedAndSaysSo) {
  const std::vector<uint8_t> mp2 = read_file(test_data(kStream));
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) GTEST_SKIP() << "no pseudo-terminals here; the in-memory tests cover a failing read";
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int side = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(side, 0);
  struct termios raw;
  tcgetattr(side, &raw);
  cfmakeraw(&raw);
  tcsetattr(side, TCSANOW, &raw);
  const size_t sent = mp2.size() / 2;
  std::thread writer([&] {
    for (size_t done = 0; done < sent;) {
      ssize_t n = write(side, mp2.data() + done, sent - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    tcdrain(side);
    close(side);
  });

  ScratchDir dir;
  CapturedLog log;
  int out = open(dir.file("out.wav").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int result = decode_stream(&log.pane, out, master, nullptr);
  writer.join();
  close(out);
  close(master);

  EXPECT_EQ(result, -1);
  ASSERT_EQ(log.lines.size(), 2u) << log.all();
  EXPECT_EQ(log.lines[0], "48000 64k jstereo\r\n");
  EXPECT_EQ(log.lines[1], "ERROR 5 reading input\r\n");
  const std::vector<uint8_t> wav = read_file(dir.file("out.wav"));
  const WavHeaderFields h = parse_wav_header(wav);
  EXPECT_TRUE(h.canonical);
  EXPECT_EQ(h.channels, 2);
  EXPECT_EQ(h.data_size + 44, wav.size());
  // Half the input's 105 frames made it, less one cut short.
  EXPECT_GE(h.data_size, 50u * 4608);
  EXPECT_LE(h.data_size, 53u * 4608);
  EXPECT_EQ(h.data_size % 4608, 0u);
}

}  // namespace
