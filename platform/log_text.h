// The text of log lines, the same on every system: where a line is cut, and
// the counts the Win32 formatter can't print.
#pragma once

#include <cstdint>

// The Win32 formatter writes at most 1024 bytes, its terminating NUL
// included: no line is longer than this, whichever system formats it.
constexpr int kLongestLogLine = 1023;

// `line` holds what a log call formatted from `format`, cut to at most
// kLongestLogLine characters. A line that fills it was cut (or fits to the
// byte) and keeps the format's "\r\n", so the next line doesn't run on.
void keep_line_end(char (&line)[kLongestLogLine + 1], const char* format);

// Formats a 64-bit count for a log line (the Win32 formatter has no 64-bit %d).
const char* format_count(int64_t value, char (&text)[24]);
