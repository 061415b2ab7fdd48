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

// True for the names of files a folder walk takes: MP2 (.mp2, .mpa, .m2a,
// .mpeg) and transport or program streams (.ts, .m2ts, .mts, .mpg, .vob),
// in any case.
bool has_mp2_extension(const std::string& name);

// The shard, from 1 to `count`, of a file by its name: below the folder
// argument it was found under, or as given. The upper 32 bits of the name's
// 64-bit FNV-1a hash, modulo `count`, plus 1: any machine, any run, any
// other files listed, the same answer.
int shard_of(const std::string& name, int count);

// Appends the sources the --files-from list in `bytes` names, one a line or
// each ending in NUL; empty entries are passed over.
void split_source_list(const std::string& bytes, bool null_separated, std::vector<std::string>* sources);

// Lists the jobs of `options`: folders walked in sorted order without
// following links, destinations beside the sources or mirrored under the
// output folder, repeated destinations settled over every shard, then only
// this shard's files kept and their existing destinations settled.
std::vector<Job> list_jobs(const Options& options);
