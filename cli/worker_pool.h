// Converts the jobs in worker processes, up to `jobs` at once: the decoder's
// bit reader is process-wide, so every conversion gets a process of its own.
// Each file's lines reach the parent through a pipe and are printed in list
// order, together; one progress line follows the bytes of all files.
#pragma once

#include <vector>

#include "cli/job_list.h"
#include "cli/run_report.h"

struct PoolSettings {
  int jobs = 1;
  bool force = false;
  bool make_folders = false;  // destinations under an output folder
  bool progress = false;      // wanted; drawn only on a terminal
  LineRouting routing;
};

// Runs every job (none after a stop request) and counts them.
RunCounts run_jobs(const std::vector<Job>& jobs, const PoolSettings& settings);
