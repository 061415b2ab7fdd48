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

namespace {

// Where a conversion that writes through a part file leaves it.
enum class PartEnding { kFinished, kPartial, kNothing };

// The stream's own endings give a finished file: all of it, the part
// before a change of sample rate, the part that fits in 4 GiB.
PartEnding part_ending(int result, const StreamOutcome& outcome) {
  if (result == 0) return PartEnding::kFinished;
  if (outcome.failure == StreamFailure::RateChanged || outcome.failure == StreamFailure::WavFull) {
    return PartEnding::kFinished;
  }
  return outcome.samples > 0 ? PartEnding::kPartial : PartEnding::kNothing;
}

bool with_suffix(const char* path, const char* suffix, char (&out)[kDestinationPathSize + 16]) {
  const size_t length = strlen(path);
  const size_t extra = strlen(suffix);
  if (length + extra >= sizeof out) return false;
  memcpy(out, path, length);
  memcpy(out + length, suffix, extra + 1);
  return true;
}

// NAME.wav becomes NAME.partial.wav.
bool partial_name(const char* destination, char (&out)[kDestinationPathSize + 16]) {
  const size_t length = strlen(destination);
  if (length < 4 || length + 8 >= sizeof out) return false;
  memcpy(out, destination, length - 4);
  memcpy(out + length - 4, ".partial", 8);
  memcpy(out + length + 4, destination + length - 4, 5);
  return true;
}

}  // namespace

int convert_pair(const char* source, const char* destination, const ConversionSetup& setup, StreamOutcome* outcome) {
  StreamOutcome own;
  if (outcome == nullptr) outcome = &own;
  // A failure before decoding leaves the outcome failed, with nothing read.
  *outcome = StreamOutcome{};
  const LogPane log = setup.log;
  const bool from_stdin = strcmp(source, kStandardStream) == 0;
  const bool to_stdout = strcmp(destination, kStandardStream) == 0;
  const bool writes = !setup.test_only;
  FileHandle input = standard_input();
  if (!from_stdin && !file_open_read(source, &input)) {
    log_line(log, "ERR %d opening %s\r\n", last_error(), source);
    return -1;
  }
  // A destination that is the source under another name (a link) would be
  // emptied before it is read.
  if (writes && !from_stdin && !to_stdout && file_is_same(input, destination)) {
    log_line(log, "ERR: %s is the source file itself\r\n", destination);
    file_close(input);
    return -1;
  }
  // A pipe or device is written as it is; a file through NAME.wav.part when
  // the front end asks, so that nothing unfinished ever has the final name.
  const bool to_file = writes && !to_stdout && !path_is_special(destination);
  const bool through_part = to_file && setup.through_part_file;
  char part[kDestinationPathSize + 16];
  char partial[kDestinationPathSize + 16];
  if (through_part && (!with_suffix(destination, ".part", part) || !partial_name(destination, partial))) {
    log_line(log, "ERR: destination path is longer than %d characters\r\n", kDestinationPathSize - 1);
    if (!from_stdin) file_close(input);
    return -1;
  }
  FileHandle output = to_stdout ? standard_output() : kNoFile;
  if (writes && !to_stdout) {
    bool opened;
    if (through_part) {
      // A part left by a crash is never a finished file: it is replaced.
      opened = !(setup.existing == ExistingDestination::kRefuse && path_exists(destination)) &&
               file_create_write(part, &output);
    } else {
      opened = setup.existing == ExistingDestination::kReplace ? file_create_write(destination, &output)
                                                               : file_create_new(destination, &output);
    }
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
  request.discard_output = !writes;
  request.input_name = from_stdin ? "standard input" : source;
  request.output_name = to_stdout ? "standard output" : through_part ? partial : destination;
  const int result = decode_stream(request, outcome);
  if (!from_stdin) file_close(input);
  if (!writes) return result;
  if (!to_stdout) file_close(output);
  if (!to_file) return result;

  // A failure before the first sample (an empty, unreadable or foreign
  // source, one without frames) leaves no WAV file to be mistaken for a
  // conversion.
  const char* written = through_part ? part : destination;
  switch (part_ending(result, *outcome)) {
    case PartEnding::kNothing:
      file_remove(written);
      break;
    case PartEnding::kPartial:
      if (through_part && !file_rename(part, partial)) log_line(log, "ERR %d renaming %s\r\n", last_error(), part);
      break;
    case PartEnding::kFinished:
      if (!through_part) break;
      if (!file_rename(part, destination)) {
        log_line(log, "ERR %d renaming %s\r\n", last_error(), part);
        return -1;
      }
      // What an interrupted run left is done with now.
      file_remove(partial);
      break;
  }
  return result;
}
