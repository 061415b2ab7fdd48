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
  std::vector<std::string> sources;
};

enum class OptionsVerdict { kRun, kHelp, kVersion, kUsageError };

// Reads argv into *options. On a usage error *complaint says what was wrong.
OptionsVerdict read_options(int argc, char** argv, Options* options, std::string* complaint);

extern const char kUsage[];
