#include "shell/convert.h"

#include <cstring>

#include "decoder/stream.h"

LogPane current_log_pane = nullptr;
ProgressBar current_progress_bar = nullptr;

namespace {

bool equals_ignoring_case(const char* text, const char* lower) {
  for (; *lower != '\0'; ++text, ++lower) {
    char c = *text;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *lower) return false;
  }
  return *text == '\0';
}

}  // namespace

int convert_file(const char* source) {
  LogPane log = current_log_pane;
  ProgressBar bar = current_progress_bar;

  // Measure without reading past the buffer's worth: longer paths are refused.
  const size_t length = strnlen(source, kDestinationPathSize);
  if (length >= static_cast<size_t>(kDestinationPathSize)) {
    log_line(log, "ERR: source path is longer than %d characters\r\n", kDestinationPathSize - 1);
    return -1;
  }
  char destination[kDestinationPathSize];
  memcpy(destination, source, length + 1);

  char* dot = nullptr;
  for (char* p = destination + length; p > destination; --p) {
    if (is_path_separator(p[-1])) break;
    if (p[-1] == '.') {
      dot = p - 1;
      break;
    }
  }
  if (dot == nullptr) {
    log_line(log, "ERR: source file has no '.'\r\n");
    return -1;
  }
  // Its own destination: creating the .wav file would empty the source first.
  if (equals_ignoring_case(dot, ".wav")) {
    log_line(log, "ERR: source file is already a .wav file: %s\r\n", source);
    return -1;
  }
  if (dot - destination + 5 > kDestinationPathSize) {
    log_line(log, "ERR: destination path is longer than %d characters\r\n", kDestinationPathSize - 1);
    return -1;
  }
  memcpy(dot, ".wav", 5);
  return convert_pair(bar, source, destination, log);
}

int convert_pair(ProgressBar bar, const char* source, const char* destination, LogPane log) {
  FileHandle input = kNoFile;
  if (!file_open_read(source, &input)) {
    log_line(log, "ERR %d opening %s\r\n", last_error(), source);
    return -1;
  }
  // A destination that is the source under another name (a link) would be
  // emptied before it is read.
  if (file_is_same(input, destination)) {
    log_line(log, "ERR: %s is the source file itself\r\n", destination);
    file_close(input);
    return -1;
  }
  FileHandle output = kNoFile;
  if (!file_create_write(destination, &output)) {
    log_line(log, "ERR %d opening %s\r\n", last_error(), destination);
    file_close(input);
    return -1;
  }
  const int result = decode_stream(log, output, input, bar);
  file_close(input);
  file_close(output);
  return result;
}
