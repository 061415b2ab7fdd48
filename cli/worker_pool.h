// Converts the jobs on up to `jobs` threads at once, each with its own
// conversion storage. Each file's lines are printed in list order, together,
// when it is done; one progress line follows the bytes of all files.
#pragma once

#include <cstdio>
#include <vector>

#include "cli/job_list.h"
#include "cli/run_report.h"
#include "convert/chunk_pool.h"

struct PoolSettings {
  int jobs = 1;
  bool force = false;
  bool make_folders = false;  // destinations under an output folder
  bool progress = false;      // wanted; drawn only on a terminal
  bool test_only = false;     // decode and check: one verdict line per file
  bool strict = false;        // a converted file with damage counts as failed
  FILE* report = nullptr;     // a JSON line per file, as its lines are printed
  int track = 0;  // of a container: only this MPEG audio track; 0: every one
  ChunkSizes chunks;  // of a long file, when there are several threads
  LineRouting routing;
};

// Runs every job (none after a stop request) and counts them.
RunCounts run_jobs(const std::vector<Job>& jobs, const PoolSettings& settings);
