// The command-line split over any text and any list size. The names it hands
// out lie inside the text, are never empty, and are the same names, in the
// same order, whether they come a list at a time or all in one list.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "shell/command_line_split.h"

namespace {

void check(bool holds) {
  if (!holds) __builtin_trap();
}

std::vector<std::string> split_all(const uint8_t* data, size_t size, int capacity) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const char* first = text.data();
  const char* end = first + text.size();
  CommandLineSplit split = start_command_line_split(text.data());
  std::vector<std::string> names;
  char* list[kFileListLimit];
  for (int n; (n = split_command_line(split, list, capacity)) > 0;) {
    check(n <= capacity);
    for (int i = 0; i < n; ++i) {
      check(list[i] >= first && list[i] < end && *list[i] != '\0');
      names.push_back(list[i]);
    }
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int capacity = 1 + data[0] % kFileListLimit;
  ++data;
  --size;
  check(split_all(data, size, capacity) == split_all(data, size, kFileListLimit));
  return 0;
}
