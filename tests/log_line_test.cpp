// Log lines: formatted within the formatter's limit, and still lines when cut.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

TEST(LogLine, ALineCutAtTheLimitKeepsItsLineEnd) {
  CapturedLog log;
  const std::string long_path(2000, 'p');
  log_line(&log.pane, "ERR %d opening %s\r\n", 2, long_path.c_str());
  log_line(&log.pane, "next\r\n");
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].size(), static_cast<size_t>(kLogLineLimit));
  EXPECT_EQ(log.lines[0].substr(0, 15), "ERR 2 opening p");
  EXPECT_EQ(log.lines[0].substr(log.lines[0].size() - 3), "p\r\n");
  EXPECT_EQ(log.all(), log.lines[0] + "next\r\n");
}

}  // namespace
