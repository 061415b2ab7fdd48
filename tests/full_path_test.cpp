// Building the worker's full path within its 1024 bytes.
#include <gtest/gtest.h>

#include <string>

#include "shell/full_path.h"

namespace {

TEST(FullPath, FolderSeparatorAndNameOrTheNameAlone) {
  char path[kFullPathSize];
  ASSERT_TRUE(build_full_path(path, "C:\\My Music", "b c.mp2"));
  EXPECT_STREQ(path, "C:\\My Music\\b c.mp2");
  ASSERT_TRUE(build_full_path(path, nullptr, "C:\\b.mp2"));
  EXPECT_STREQ(path, "C:\\b.mp2");
}

TEST(FullPath, APathThatDoesNotFitIsRefusedNotCut) {
  char path[kFullPathSize];
  const std::string longest(kFullPathSize - 1, 'n');
  ASSERT_TRUE(build_full_path(path, nullptr, longest.c_str()));
  EXPECT_EQ(std::string(path), longest);

  const std::string one_more(kFullPathSize, 'n');
  EXPECT_FALSE(build_full_path(path, nullptr, one_more.c_str()));
  EXPECT_STREQ(path, "");

  // Folder, '\' and name together: 500 + 1 + 523 is one byte too many.
  const std::string folder(500, 'f');
  EXPECT_TRUE(build_full_path(path, folder.c_str(), std::string(522, 'n').c_str()));
  EXPECT_FALSE(build_full_path(path, folder.c_str(), std::string(523, 'n').c_str()));
  // A name from the command line can be far longer than the buffer.
  EXPECT_FALSE(build_full_path(path, nullptr, std::string(100000, 'n').c_str()));
}

}  // namespace
