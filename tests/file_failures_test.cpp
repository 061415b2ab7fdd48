// The README's limits table, one test for each row the per-file entry meets,
// on real files: one line, result -1, no source harmed, and what was
// converted stays a playable WAV file. The command-line tests add the rows
// that need an unprivileged user; the stream rows have tests of their own.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "decoder/stream.h"
#include "tests/support/file_conversion.h"
#include "tests/support/test_support.h"

namespace {

const char kStream[] = "golden/tl_48k_jstereo_64k_music.mp2";  // 105 frames of 192 bytes

void expect_one_line(const FileConversion& c, const std::string& line) {
  EXPECT_EQ(c.result, -1);
  ASSERT_EQ(c.lines.size(), 1u) << c.all();
  EXPECT_EQ(c.lines[0], line);
}

std::string opening_line(int code, const std::string& path) {
  return "ERR " + std::to_string(code) + " opening " + path + "\r\n";
}

// A path of exactly `length` characters ending in `tail`, through folders
// made for it under `dir` (no name in it is longer than 200).
std::string path_of_length(const ScratchDir& dir, size_t length, const std::string& tail) {
  std::string path = dir.path();
  while (path.size() + 1 + tail.size() < length) {
    const size_t room = length - path.size() - 1 - tail.size();
    // Never leave a single character: a folder needs its '/' and a name.
    const size_t name = room <= 200 ? room - 1 : (room <= 202 ? room - 3 : 200);
    path += "/" + std::string(name, 'd');
    mkdir(path.c_str(), 0755);
  }
  path += "/" + tail;
  EXPECT_EQ(path.size(), length);
  return path;
}

// Writes into `path` until the file system has no room left.
void fill_up(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char> block(4096, 'x');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  close(fd);
}

TEST(Limits, AFileThatDoesntExist) {
  ScratchDir dir;
  expect_one_line(convert_named(dir.file("absent.mp2")), opening_line(ENOENT, dir.file("absent.mp2")));
  EXPECT_FALSE(file_exists(dir.file("absent.wav")));
}

TEST(Limits, AFolderGivenAsTheSource) {
  ScratchDir dir;
  ASSERT_EQ(mkdir(dir.file("folder.mp2").c_str(), 0755), 0);
  expect_one_line(convert_named(dir.file("folder.mp2")), opening_line(EISDIR, dir.file("folder.mp2")));
  EXPECT_FALSE(file_exists(dir.file("folder.wav")));
}

TEST(Limits, ANameWithoutADotInItsLastPart) {
  ScratchDir dir;
  ASSERT_EQ(mkdir(dir.file("music.old").c_str(), 0755), 0);
  write_file(dir.file("music.old/track"), read_file(test_data(kStream)));
  for (const std::string& source : {dir.file("music.old/track"), std::string("track")}) {
    SCOPED_TRACE(source);
    expect_one_line(convert_named(source), "ERR: source file has no '.'\r\n");
  }
  EXPECT_FALSE(file_exists(dir.file("music.wav")));
  EXPECT_FALSE(file_exists(dir.file("music.old/track.wav")));
}

TEST(Limits, ASourceNamedWavInAnyCase) {
  ScratchDir dir;
  const std::vector<uint8_t> bytes = read_file(test_data(kStream));
  for (const char* name : {"take.wav", "take2.WAV", "take3.Wav"}) {
    SCOPED_TRACE(name);
    write_file(dir.file(name), bytes);
    expect_one_line(convert_named(dir.file(name)), "ERR: source file is already a .wav file: " + dir.file(name) + "\r\n");
    EXPECT_EQ(read_file(dir.file(name)), bytes);
  }
}

TEST(Limits, ADestinationThatIsAlreadyALinkToTheSource) {
  ScratchDir dir;
  const std::vector<uint8_t> bytes = read_file(test_data(kStream));
  write_file(dir.file("linked.mp2"), bytes);
  ASSERT_EQ(symlink("linked.mp2", dir.file("linked.wav").c_str()), 0);
  write_file(dir.file("hard.mp2"), bytes);
  ASSERT_EQ(link(dir.file("hard.mp2").c_str(), dir.file("hard.wav").c_str()), 0);
  for (const char* name : {"linked", "hard"}) {
    SCOPED_TRACE(name);
    const std::string source = dir.file(std::string(name) + ".mp2");
    expect_one_line(convert_named(source), "ERR: " + dir.file(std::string(name) + ".wav") + " is the source file itself\r\n");
    EXPECT_EQ(read_file(source), bytes);
  }
}

TEST(Limits, APathOf1028CharactersOrMore) {
  ScratchDir dir;
  const std::vector<uint8_t> bytes = read_file(test_data(kStream));
  // 1027 characters fit the buffer, and so does the .wav path of the same length.
  const std::string longest = path_of_length(dir, 1027, "x.mp2");
  write_file(longest, bytes);
  const FileConversion fits = convert_named(longest);
  EXPECT_EQ(fits.result, 0) << fits.all();
  EXPECT_EQ(read_file(longest.substr(0, 1024) + "wav").size(), 44u + 105 * 4608);

  // One more is refused before anything is opened, even when the file is there.
  ScratchDir other;
  const std::string too_long = path_of_length(other, 1028, "x.mp2");
  write_file(too_long, bytes);
  expect_one_line(convert_named(too_long), "ERR: source path is longer than 1027 characters\r\n");
  EXPECT_FALSE(file_exists(too_long.substr(0, 1025) + "wav"));
  expect_one_line(convert_named(std::string(5000, 'a') + ".mp2"), "ERR: source path is longer than 1027 characters\r\n");

  // A short extension makes the .wav path the longer one: 1025 + 2 fits, 1026 + 2 does not.
  ScratchDir short_ext;
  const std::string grows_to_fit = path_of_length(short_ext, 1025, "y.m");
  write_file(grows_to_fit, bytes);
  EXPECT_EQ(convert_named(grows_to_fit).result, 0);
  EXPECT_TRUE(file_exists(grows_to_fit.substr(0, 1024) + "wav"));
  const std::string grows_too_long = path_of_length(short_ext, 1026, "z.m");
  write_file(grows_too_long, bytes);
  expect_one_line(convert_named(grows_too_long), "ERR: destination path is longer than 1027 characters\r\n");
}

TEST(Limits, AFolderThatCantBeWrittenToOrAReadOnlyDisk) {
  ScratchDir dir;
  const std::vector<uint8_t> bytes = read_file(test_data(kStream));
  write_file(dir.file("song.mp2"), bytes);
  mkdir(dir.file("song.wav").c_str(), 0755);  // in the way: even root can't write a folder
  expect_one_line(convert_named(dir.file("song.mp2")), opening_line(EISDIR, dir.file("song.wav")));
  EXPECT_EQ(read_file(dir.file("song.mp2")), bytes);

  // A read-only file system refuses even root.
  ScratchDir mount_point;
  SmallFilesystem fs(mount_point.path(), 1 << 20);
  if (!fs.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root; the command-line tests cover a read-only folder";
  write_file(mount_point.file("song.mp2"), bytes);
  ASSERT_TRUE(fs.make_read_only());
  expect_one_line(convert_named(mount_point.file("song.mp2")), opening_line(EROFS, mount_point.file("song.wav")));
  EXPECT_EQ(read_file(mount_point.file("song.mp2")), bytes);
}

TEST(Limits, AnEmptyFile) {
  ScratchDir dir;
  write_file(dir.file("empty.mp2"), {});
  write_file(dir.file("again.mp2"), {});
  write_file(dir.file("again.wav"), std::vector<uint8_t>(100000, 0x77));  // from before: replaced, so gone too
  for (const char* name : {"empty", "again"}) {
    SCOPED_TRACE(name);
    expect_one_line(convert_named(dir.file(std::string(name) + ".mp2")), "ERROR 0 reading input\r\n");
    // No empty WAV file left behind to pass for a conversion.
    EXPECT_FALSE(file_exists(dir.file(std::string(name) + ".wav")));
  }
}

// A terminal's master side reads what was written to the other side, then
// fails with EIO once that side has closed: a read failing mid-input, here
// 96 bytes into frame 53.
TEST(Limits, AReadThatFailsPartWay) {
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
  const size_t sent = 52 * 192 + 96;
  std::thread writer([&] {
    for (size_t done = 0; done < sent;) {
      ssize_t n = write(side, mp2.data() + done, sent - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    // Close only once the decoder has read every byte sent: the failure
    // comes right after them.
    tcdrain(side);
    for (int pending = 1; ioctl(master, FIONREAD, &pending) == 0 && pending > 0;) usleep(1000);
    close(side);
  });

  ScratchDir dir;
  CapturedLog log;
  int out = open(dir.file("out.wav").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int result = decode_handles(&log.pane, out, master, nullptr);
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
  EXPECT_EQ(h.data_size, 52u * 4608);  // the frame cut by the failure is left out
  EXPECT_EQ(wav.size(), 44u + h.data_size);
}

TEST(Limits, TheDiskFillsUp) {
  // A device that is always full: the first frame's write fails; with no
  // frame, the header's own writes do. Still one line each.
  ScratchDir dir;
  write_file(dir.file("no_frames.mp2"), std::vector<uint8_t>(5000, 0x42));
  for (const std::string& input : {test_data(kStream), dir.file("no_frames.mp2")}) {
    SCOPED_TRACE(input);
    CapturedLog log;
    int in = open(input.c_str(), O_RDONLY);
    int out = open("/dev/full", O_WRONLY);
    ASSERT_GE(out, 0);
    EXPECT_EQ(decode_handles(&log.pane, out, in, nullptr), -1);
    close(in);
    close(out);
    ASSERT_EQ(log.lines.size(), input == test_data(kStream) ? 2u : 1u) << log.all();
    EXPECT_EQ(log.lines.back(), "ERR 28 writing output wav file\r\n");
  }
  // An output that refuses writes for another reason gives its own number.
  write_file(dir.file("out.wav"), {});
  int in = open(test_data(kStream).c_str(), O_RDONLY);
  int read_only = open(dir.file("out.wav").c_str(), O_RDONLY);
  CapturedLog refused;
  EXPECT_EQ(decode_handles(&refused.pane, read_only, in, nullptr), -1);
  close(read_only);
  close(in);
  EXPECT_EQ(refused.all(), "48000 64k jstereo\r\nERR 9 writing output wav file\r\n");

  // A real file system that fills up: what fits stays a playable file whose
  // header matches it.
  CapturedLog reference_log;
  ASSERT_EQ(decode_file(test_data(kStream), dir.file("all.wav"), &reference_log.pane, nullptr), 0);
  const std::vector<int16_t> all = wav_samples(read_file(dir.file("all.wav")));
  ScratchDir mount_point;
  SmallFilesystem fs(mount_point.path(), 128 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
  write_file(mount_point.file("song.mp2"), read_file(test_data(kStream)));
  const FileConversion c = convert_named(mount_point.file("song.mp2"));
  EXPECT_EQ(c.result, -1);
  ASSERT_EQ(c.lines.size(), 2u) << c.all();
  EXPECT_EQ(c.lines[1], "ERR 28 writing output wav file\r\n");
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

  // With no room at all not even the header fits: still one line after the stream's.
  fill_up(mount_point.file("filler"));
  const FileConversion full = convert_named(mount_point.file("song.mp2"));
  EXPECT_EQ(full.result, -1);
  ASSERT_EQ(full.lines.size(), 2u) << full.all();
  EXPECT_EQ(full.lines[1], "ERR 28 writing output wav file\r\n");
}

}  // namespace
