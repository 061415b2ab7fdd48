// The command-line converter over lists that mix good and bad files: each bad
// file gets one line, every other file still converts, and the exit status
// says whether any failed.
#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace {

const char kStream[] = "golden/tl_48k_jstereo_64k_music.mp2";
constexpr size_t kStreamWavBytes = 483884;

struct ConverterRun {
  int exit_status = -1;
  // The lines that follow each "Converting NAME" line, by NAME.
  std::map<std::string, std::vector<std::string>> lines_after;
  std::string output;
};

// Runs the converter over `names`, as the unprivileged user `nobody` when
// asked and the tests run as root (root reads and writes whatever it likes).
ConverterRun run_converter(const std::vector<std::string>& names, bool unprivileged = false) {
  std::string command;
  if (unprivileged && getuid() == 0) command = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  command += "'" SONDRIK_BINARY "'";
  for (const auto& name : names) command += " '" + name + "'";
  ConverterRun run;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

  std::vector<std::string>* current = nullptr;
  size_t start = 0;
  for (size_t end; (end = run.output.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = run.output.substr(start, end - start);
    if (line.rfind("Converting ", 0) == 0) {
      current = &run.lines_after[line.substr(11)];
    } else if (line.rfind("sondrik finished: ", 0) == 0) {
      current = nullptr;
    } else if (current != nullptr) {
      current->push_back(line);
    }
  }
  return run;
}

void expect_converted(const ConverterRun& run, const std::string& source, const std::string& wav) {
  ASSERT_EQ(run.lines_after.count(source), 1u) << run.output;
  const auto& lines = run.lines_after.at(source);
  ASSERT_EQ(lines.size(), 3u) << run.output;
  EXPECT_EQ(lines[2], "105 frames est 483840,  483840 written 483840 datasize");
  EXPECT_EQ(read_file(wav).size(), kStreamWavBytes);
}

void expect_failed_with(const ConverterRun& run, const std::string& source, const std::string& line) {
  ASSERT_EQ(run.lines_after.count(source), 1u) << run.output;
  EXPECT_EQ(run.lines_after.at(source), std::vector<std::string>{line}) << run.output;
}

TEST(CommandLine, BadFilesAmongGoodOnesFailOneLineEachAndTheRestConvert) {
  ScratchDir dir;
  const std::vector<uint8_t> mp2 = read_file(test_data(kStream));
  write_file(dir.file("first.mp2"), mp2);
  write_file(dir.file("last.mpeg"), mp2);
  write_file(dir.file("take.WAV"), mp2);
  write_file(dir.file("empty.mp2"), {});
  write_file(dir.file("noext"), mp2);
  mkdir(dir.file("album.mp2").c_str(), 0755);

  const ConverterRun run = run_converter({dir.file("first.mp2"), dir.file("missing.mp2"), dir.file("album.mp2"),
                                 dir.file("noext"), dir.file("take.WAV"), dir.file("empty.mp2"),
                                 dir.file("last.mpeg")});
  EXPECT_EQ(run.exit_status, 1);
  expect_converted(run, dir.file("first.mp2"), dir.file("first.wav"));
  expect_failed_with(run, dir.file("missing.mp2"), "ERR 2 opening " + dir.file("missing.mp2"));
  EXPECT_EQ(run.lines_after.count(dir.file("album.mp2")), 0u) << "an empty folder holds no files";
  expect_failed_with(run, dir.file("noext"), "ERR: source file has no '.'");
  expect_failed_with(run, dir.file("take.WAV"), "ERR: source file is already a .wav file: " + dir.file("take.WAV"));
  expect_failed_with(run, dir.file("empty.mp2"), "ERROR 0 reading input");
  expect_converted(run, dir.file("last.mpeg"), dir.file("last.wav"));
  EXPECT_EQ(read_file(dir.file("take.WAV")), mp2);
  EXPECT_FALSE(file_exists(dir.file("missing.wav")));
  EXPECT_FALSE(file_exists(dir.file("album.wav")));
  EXPECT_FALSE(file_exists(dir.file("empty.wav")));
  EXPECT_NE(run.output.find("sondrik finished: 2 converted, 4 failed, 0 skipped; 0:00:05 of audio in "),
            std::string::npos);

  const ConverterRun good = run_converter({"--force", dir.file("first.mp2")});
  EXPECT_EQ(good.exit_status, 0) << good.output;
}

TEST(CommandLine, AnUnreadableFileAndAReadOnlyFolderFailForAnOrdinaryUser) {
  ScratchDir dir;
  chmod(dir.path().c_str(), 0777);
  const std::vector<uint8_t> mp2 = read_file(test_data(kStream));
  write_file(dir.file("locked.mp2"), mp2);
  chmod(dir.file("locked.mp2").c_str(), 0);
  mkdir(dir.file("shelf").c_str(), 0755);
  write_file(dir.file("shelf/song.mp2"), mp2);
  chmod(dir.file("shelf/song.mp2").c_str(), 0644);
  chmod(dir.file("shelf").c_str(), 0555);
  write_file(dir.file("open.mp2"), mp2);
  chmod(dir.file("open.mp2").c_str(), 0644);

  const ConverterRun run = run_converter({dir.file("locked.mp2"), dir.file("shelf/song.mp2"), dir.file("open.mp2")}, true);
  EXPECT_EQ(run.exit_status, 1);
  expect_failed_with(run, dir.file("locked.mp2"), "ERR 13 opening " + dir.file("locked.mp2"));
  expect_failed_with(run, dir.file("shelf/song.mp2"), "ERR 13 opening " + dir.file("shelf/song.wav"));
  expect_converted(run, dir.file("open.mp2"), dir.file("open.wav"));
  EXPECT_FALSE(file_exists(dir.file("locked.wav")));
}

TEST(CommandLine, AFullDiskFailsItsFileAndTheNextFileElsewhereConverts) {
  ScratchDir mount_point;
  SmallFilesystem fs(mount_point.path(), 128 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
  ScratchDir dir;
  const std::vector<uint8_t> mp2 = read_file(test_data(kStream));
  write_file(mount_point.file("full.mp2"), mp2);
  write_file(dir.file("next.mp2"), mp2);

  const ConverterRun run = run_converter({mount_point.file("full.mp2"), dir.file("next.mp2")});
  EXPECT_EQ(run.exit_status, 1);
  ASSERT_EQ(run.lines_after.count(mount_point.file("full.mp2")), 1u) << run.output;
  const auto& lines = run.lines_after.at(mount_point.file("full.mp2"));
  ASSERT_EQ(lines.size(), 2u) << run.output;  // the stream line, then the failure
  EXPECT_EQ(lines[1], "ERR 28 writing output wav file");
  expect_converted(run, dir.file("next.mp2"), dir.file("next.wav"));
}

}  // namespace
