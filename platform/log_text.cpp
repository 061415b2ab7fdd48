#include "platform/log_text.h"

#include <cstring>

void keep_line_end(char (&line)[kLongestLogLine + 1], const char* format) {
  line[kLongestLogLine] = '\0';
  const size_t format_length = strlen(format);
  const bool ends_line = format_length >= 2 && strcmp(format + format_length - 2, "\r\n") == 0;
  if (ends_line && strlen(line) == kLongestLogLine) memcpy(line + kLongestLogLine - 2, "\r\n", 2);
}

const char* format_count(int64_t value, char (&text)[24]) {
  char* end = text + sizeof text - 1;
  *end = '\0';
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    *--end = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--end = '-';
  return end;
}
