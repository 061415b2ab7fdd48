// Log lines: formatted within the Win32 formatter's limit, and still lines when cut.
#include <gtest/gtest.h>

#include <string>

#include "platform/log_text.h"
#include "tests/support/test_support.h"

namespace {

TEST(LogLine, ALineCutAtTheLimitKeepsItsLineEnd) {
  CapturedLog log;
  // "ERR 2 opening " is 14 characters, "\r\n" 2: a path of 1007 fills the line
  // exactly, one more is cut.
  for (size_t path_length : {1006u, 1007u, 1008u, 2000u}) {
    SCOPED_TRACE(path_length);
    log.lines.clear();
    const std::string path(path_length, 'p');
    log_line(&log.pane, "ERR %d opening %s\r\n", 2, path.c_str());
    log_line(&log.pane, "next\r\n");
    ASSERT_EQ(log.lines.size(), 2u);
    const std::string& line = log.lines[0];
    EXPECT_EQ(line.size(), std::min<size_t>(16 + path_length, kLongestLogLine));
    EXPECT_EQ(line.substr(0, 15), "ERR 2 opening p");
    EXPECT_EQ(line.substr(line.size() - 3), "p\r\n");
    EXPECT_EQ(log.lines[1], "next\r\n");
  }
}

TEST(LogLine, AFormatWithoutALineEndIsCutAsIs) {
  CapturedLog log;
  const std::string text(1500, 't');
  log_line(&log.pane, "%s", text.c_str());
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0], text.substr(0, kLongestLogLine));
}

TEST(LogLine, CountsPastThirtyTwoBits) {
  char text[24];
  EXPECT_STREQ(format_count(0, text), "0");
  EXPECT_STREQ(format_count(4294967296, text), "4294967296");
  EXPECT_STREQ(format_count(INT64_MAX, text), "9223372036854775807");
  EXPECT_STREQ(format_count(INT64_MIN, text), "-9223372036854775808");
}

}  // namespace
