// Reading the open-file dialog's selection buffer, never past its 8192 bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/selection_buffer.h"

namespace {

// A heap buffer of exactly the dialog's size, so that a read past its end
// shows under AddressSanitizer; `contents` fills its start.
std::vector<char> dialog_buffer(const std::string& contents, char fill = '\0') {
  std::vector<char> buffer(kSelectionBufferSize, fill);
  std::copy(contents.begin(), contents.end(), buffer.begin());
  return buffer;
}

struct ScanResult {
  SelectionShape shape;
  std::vector<std::string> names;
  bool cut_short;
};

ScanResult scan_all(const std::vector<char>& buffer, int capacity = 256) {
  SelectionScan scan;
  ScanResult result;
  result.shape = start_selection_scan(buffer.data(), static_cast<int>(buffer.size()), &scan);
  std::vector<const char*> list(static_cast<size_t>(capacity));
  for (int n; (n = next_selection_names(scan, list.data(), capacity)) > 0;) {
    for (int i = 0; i < n; ++i) result.names.push_back(list[static_cast<size_t>(i)]);
  }
  result.cut_short = scan.cut_short;
  return result;
}

using Names = std::vector<std::string>;

TEST(SelectionBuffer, TheThreeShapesTheDialogLeaves) {
  ScanResult empty = scan_all(dialog_buffer(""));
  EXPECT_EQ(empty.shape, SelectionShape::kEmpty);
  EXPECT_TRUE(empty.names.empty());
  EXPECT_FALSE(empty.cut_short);

  ScanResult one = scan_all(dialog_buffer(std::string("C:\\music\\a.mp2\0\0", 16)));
  EXPECT_EQ(one.shape, SelectionShape::kOneFile);
  EXPECT_TRUE(one.names.empty());
  EXPECT_FALSE(one.cut_short);

  std::vector<char> several = dialog_buffer(std::string("C:\\music\0a.mp2\0b c.mpeg\0\0", 26));
  ScanResult result = scan_all(several);
  EXPECT_EQ(result.shape, SelectionShape::kFolderAndNames);
  EXPECT_EQ(result.names, (Names{"a.mp2", "b c.mpeg"}));
  EXPECT_FALSE(result.cut_short);
}

TEST(SelectionBuffer, MoreNamesThanOneListComeAListAtATime) {
  std::string contents = std::string("C:\\m") + '\0';
  for (int i = 0; i < 600; ++i) contents += std::to_string(i) + ".mp2" + '\0';
  ScanResult result = scan_all(dialog_buffer(contents), 256);
  ASSERT_EQ(result.names.size(), 600u);
  EXPECT_EQ(result.names[256], "256.mp2");
  EXPECT_EQ(result.names[599], "599.mp2");
  EXPECT_FALSE(result.cut_short);
}

TEST(SelectionBuffer, AnUnterminatedBufferIsReadOnlyToItsEnd) {
  // Wine hands back a selection that overflowed the buffer cut off, without terminators.
  ScanResult no_terminator = scan_all(dialog_buffer("", 'x'));
  EXPECT_EQ(no_terminator.shape, SelectionShape::kEmpty);
  EXPECT_TRUE(no_terminator.cut_short);

  // The complete names are handed out; the one the end cut off is not.
  ScanResult cut_name = scan_all(dialog_buffer(std::string("C:\\m\0a.mp2\0b.mp2\0", 17), 'y'));
  EXPECT_EQ(cut_name.shape, SelectionShape::kFolderAndNames);
  EXPECT_EQ(cut_name.names, (Names{"a.mp2", "b.mp2"}));
  EXPECT_TRUE(cut_name.cut_short);

  // A last name that ends exactly at the last byte, with no empty string after it.
  std::string contents = std::string("C:\\m") + '\0';
  contents += std::string(kSelectionBufferSize - contents.size() - 1, 'z');
  ScanResult exact = scan_all(dialog_buffer(contents));
  EXPECT_EQ(exact.names.size(), 1u);
  EXPECT_TRUE(exact.cut_short);

  // A single path whose terminator is the last byte: the second terminator is missing.
  ScanResult folder_only = scan_all(dialog_buffer(std::string(kSelectionBufferSize - 1, 'p')));
  EXPECT_EQ(folder_only.shape, SelectionShape::kFolderAndNames);
  EXPECT_TRUE(folder_only.names.empty());
  EXPECT_TRUE(folder_only.cut_short);
}

}  // namespace
