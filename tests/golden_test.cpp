// The exactness gate: each golden stream must become exactly the WAV file
// whose hash, size and log lines were recorded for it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/test_support.h"

namespace {

struct GoldenCase {
  std::string name;
  std::string sha256;
  size_t wav_bytes;
  std::string stream_line;
  std::string statistics_line;
};

std::vector<GoldenCase> load_expectations() {
  std::vector<GoldenCase> cases;
  std::ifstream in(test_data("golden/expected.txt"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    GoldenCase c;
    std::istringstream fields(line);
    fields >> c.name >> c.sha256 >> c.wav_bytes;
    size_t bar1 = line.find(" | ");
    size_t bar2 = line.find(" | ", bar1 + 3);
    c.stream_line = line.substr(bar1 + 3, bar2 - bar1 - 3) + "\r\n";
    c.statistics_line = line.substr(bar2 + 3) + "\r\n";
    cases.push_back(c);
  }
  return cases;
}

TEST(Golden, EveryStreamConvertsToItsRecordedBytesAndLines) {
  const auto cases = load_expectations();
  ASSERT_EQ(cases.size(), 12u);
  ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    const std::string wav = dir.file(c.name + ".wav");
    ASSERT_EQ(decode_file(test_data("golden/" + c.name + ".mp2"), wav, &log.pane, nullptr), 0);
    EXPECT_EQ(read_file(wav).size(), c.wav_bytes);
    EXPECT_EQ(sha256_of_file(wav), c.sha256);
    ASSERT_EQ(log.lines.size(), 3u) << log.all();
    EXPECT_EQ(log.lines[0], c.stream_line);
    EXPECT_EQ(log.lines[1].rfind("wav file written, ", 0), 0u) << log.lines[1];
    EXPECT_EQ(log.lines[2], c.statistics_line);
  }
}

}  // namespace
