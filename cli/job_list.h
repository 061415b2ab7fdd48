// The files of one run: every source named or found under a folder named,
// with its destination, in the order they are converted and reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"

struct Job {
  std::string source;       // a path, or "-" for standard input
  std::string destination;  // a path, "-" for standard output, empty with -t
  int64_t size = 0;         // the source's bytes, 0 when unknown
  // Set when the job fails before it is started: its one line, or a skip.
  std::string early_line;
  bool skipped = false;
};

// True for the names of MP2 files: .mp2, .mpa, .m2a or .mpeg, in any case.
bool has_mp2_extension(const std::string& name);

// Lists the jobs of `options`: folders walked in sorted order without
// following links, destinations beside the sources or mirrored under the
// output folder, repeated destinations and existing ones settled.
std::vector<Job> list_jobs(const Options& options);
