#include "convert/convert.h"

#include <cstring>

#include "decoder/stream.h"
#include "decoder/wav_writer.h"

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

const char kStandardStream[] = "-";

int convert_file(const char* source, const ConversionSetup& setup, StreamOutcome* outcome) {
  if (outcome != nullptr) *outcome = StreamOutcome{};
  char destination[kDestinationPathSize];
  if (derive_wav_path(source, destination, setup.log) != 0) return -1;
  return convert_pair(source, destination, setup, outcome);
}

int derive_wav_path(const char* path, char (&destination)[kDestinationPathSize], LogPane log) {
  // Measure without reading past the buffer's worth: longer paths are refused.
  const size_t length = strnlen(path, kDestinationPathSize);
  if (length >= static_cast<size_t>(kDestinationPathSize)) {
    log_line(log, "ERR: source path is longer than %d characters\r\n", kDestinationPathSize - 1);
    return -1;
  }
  memcpy(destination, path, length + 1);

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
    log_line(log, "ERR: source file is already a .wav file: %s\r\n", path);
    return -1;
  }
  if (dot - destination + 5 > kDestinationPathSize) {
    log_line(log, "ERR: destination path is longer than %d characters\r\n", kDestinationPathSize - 1);
    return -1;
  }
  memcpy(dot, ".wav", 5);
  return 0;
}

int convert_pair(const char* source, const char* destination, const ConversionSetup& setup, StreamOutcome* outcome) {
  // A failure before decoding leaves the outcome failed, with nothing read.
  if (outcome != nullptr) *outcome = StreamOutcome{};
  const LogPane log = setup.log;
  const bool from_stdin = strcmp(source, kStandardStream) == 0;
  const bool to_stdout = strcmp(destination, kStandardStream) == 0;
  FileHandle input = standard_input();
  if (!from_stdin && !file_open_read(source, &input)) {
    log_line(log, "ERR %d opening %s\r\n", last_error(), source);
    return -1;
  }
  // A destination that is the source under another name (a link) would be
  // emptied before it is read.
  if (!from_stdin && !to_stdout && file_is_same(input, destination)) {
    log_line(log, "ERR: %s is the source file itself\r\n", destination);
    file_close(input);
    return -1;
  }
  FileHandle output = standard_output();
  if (!to_stdout) {
    const bool opened = setup.existing == ExistingDestination::kReplace ? file_create_write(destination, &output)
                                                                        : file_create_new(destination, &output);
    if (!opened) {
      const int error = last_error();
      if (setup.existing == ExistingDestination::kRefuse && path_exists(destination)) {
        log_line(log, "ERR: %s exists; --force replaces it\r\n", destination);
      } else {
        log_line(log, "ERR %d opening %s\r\n", error, destination);
      }
      if (!from_stdin) file_close(input);
      return -1;
    }
  }
  DecodeRequest request;
  request.input = input;
  request.output = output;
  request.log = log;
  request.bar = setup.bar;
  request.batch = setup.batch;
  request.stop = setup.stop;
  request.stream_kbps = setup.stream_kbps;
  request.output_name = to_stdout ? "standard output" : destination;
  const int result = decode_stream(request, outcome);
  // A failure before the first byte (an empty or unreadable source) leaves
  // no empty WAV file behind to be mistaken for a conversion.
  const bool wrote_nothing = !to_stdout && result != 0 && file_size(output) == 0;
  if (!from_stdin) file_close(input);
  if (!to_stdout) file_close(output);
  if (wrote_nothing) file_remove(destination);
  return result;
}
