// The --report file: one JSON object per source, one line each, in list
// order, so that a batch can be checked by a program.
#pragma once

#include <string>

#include "decoder/stream_outcome.h"

// What the run knows of one source once it is done.
struct FileRecord {
  std::string source;
  const char* outcome = "failed";  // converted, checked, failed, interrupted, skipped
  const char* failure = nullptr;   // a word (failure_word); null: none
  std::string message;             // the file's first error line; empty: none
  std::string destination;         // the WAV file left, "-" for standard output; empty: none
  StreamOutcome stream;            // all zeros when nothing was decoded
  std::string sha256;              // of the WAV file left; empty: not hashed
};

const char* outcome_word(bool skipped, bool succeeded, bool test_only, const StreamOutcome& stream);
// "no_frames", "rate_changed", ...; "not_started" for a file refused before
// its first byte was decoded. Null for a file that converted or was skipped.
const char* failure_word(bool skipped, bool succeeded, const StreamOutcome& stream);
// The record as one line of JSON, without the newline.
std::string report_line(const FileRecord& record);
