// The command line's options, read the getopt_long way: anywhere on the line,
// "--" ending them.
#pragma once

#include <string>
#include <vector>

struct Options {
  std::string output_dir;  // empty: each WAV beside its source
  int jobs = 0;            // 0: one per processor
  bool force = false;
  bool skip_existing = false;
  bool to_stdout = false;
  bool quiet = false;
  bool test_only = false;   // decode and check, write no WAV file
  bool strict = false;      // a damaged source counts as failed
  std::string report_path;  // empty: no report
  int track = 0;            // of a container source: only this MPEG audio track; 0: every one
  std::string files_from;   // a file listing more sources, "-" for standard input; empty: none
  bool null_separated = false;  // that list's paths end in NUL rather than a newline
  // Of the files listed, convert only those whose name hashes to shard
  // `shard` of `shard_count` (from 1); 0: every file.
  int shard = 0;
  int shard_count = 0;
  std::vector<std::string> sources;
};

enum class OptionsVerdict { kRun, kHelp, kVersion, kUsageError };

// Reads argv into *options. On a usage error *complaint says what was wrong.
OptionsVerdict read_options(int argc, char** argv, Options* options, std::string* complaint);

extern const char kUsage[];
