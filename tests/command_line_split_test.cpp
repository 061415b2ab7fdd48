// Splitting the command-line text in place, a list at a time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/command_line_split.h"

namespace {

std::vector<std::string> split_all(std::string text, int capacity = kFileListLimit) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  CommandLineSplit split = start_command_line_split(buffer.data());
  std::vector<std::string> names;
  std::vector<char*> list(static_cast<size_t>(capacity));
  for (int n; (n = split_command_line(split, list.data(), capacity)) > 0;) {
    for (int i = 0; i < n; ++i) names.push_back(list[static_cast<size_t>(i)]);
  }
  return names;
}

using Names = std::vector<std::string>;

TEST(CommandLineSplit, QuotesGroupBlanksAndAreNotPartOfTheName) {
  EXPECT_EQ(split_all("\"C:\\My Music\\a.mp2\" C:\\b.mp2"), (Names{"C:\\My Music\\a.mp2", "C:\\b.mp2"}));
  EXPECT_EQ(split_all("a.mp2   b.mp2 "), (Names{"a.mp2", "b.mp2"}));
}

TEST(CommandLineSplit, EmptyQuotesGiveAnEmptyList) {
  EXPECT_EQ(split_all("\"\""), Names{});
  EXPECT_EQ(split_all(""), Names{});
}

TEST(CommandLineSplit, OddQuotesFollowTheFlagRules) {
  // An opening quote after a name's start stays in it; the closing one still ends it.
  EXPECT_EQ(split_all("ab\"c d\" e"), (Names{"ab\"c d", "e"}));
  // What follows a closing quote up to the next blank belongs to no name.
  EXPECT_EQ(split_all("\"a b\"xyz c"), (Names{"a b", "c"}));
  // An unclosed quote runs to the end; tabs are ordinary characters.
  EXPECT_EQ(split_all("\"a b c"), (Names{"a b c"}));
  EXPECT_EQ(split_all("a\tb c"), (Names{"a\tb", "c"}));
}

TEST(CommandLineSplit, LongListsComeAListAtATimeWithNothingDropped) {
  std::string text;
  for (int i = 0; i < 600; ++i) text += "f" + std::to_string(i) + ".mp2 ";
  Names names = split_all(text, kFileListLimit);
  ASSERT_EQ(names.size(), 600u);
  EXPECT_EQ(names[255], "f255.mp2");
  EXPECT_EQ(names[256], "f256.mp2");
  EXPECT_EQ(names[599], "f599.mp2");
  // A quoted name that straddles the list boundary survives intact.
  EXPECT_EQ(split_all("a \"b c\" d", 1), (Names{"a", "b c", "d"}));
}

}  // namespace
