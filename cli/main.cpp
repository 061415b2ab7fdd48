// sondrik [OPTION]... SOURCE...: converts MP2 files into WAV files, beside
// them or under an output folder, several at once.
#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "cli/job_list.h"
#include "cli/options.h"
#include "cli/run_report.h"
#include "cli/worker_pool.h"
#include "platform/platform.h"
#include "platform/stop_signals.h"

namespace {

constexpr int kExitAllConverted = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;

int usage_error(const std::string& complaint) {
  fprintf(stderr, "sondrik: %s\n%s", complaint.c_str(), kUsage);
  return kExitUsage;
}

// Appends the sources of the --files-from list to options->sources. False
// after an ERR line when the list can't be read.
bool read_source_list(Options* options) {
  const bool from_stdin = options->files_from == "-";
  FILE* list = from_stdin ? stdin : fopen(options->files_from.c_str(), "rb");
  if (list == nullptr) {
    fprintf(stderr, "ERR %d opening list %s\n", errno, options->files_from.c_str());
    return false;
  }
  std::string bytes;
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, list)) > 0;) bytes.append(buffer, n);
  const bool failed = ferror(list) != 0;
  const int error = errno;
  if (!from_stdin) fclose(list);
  if (failed) {
    fprintf(stderr, "ERR %d reading list %s\n", error, options->files_from.c_str());
    return false;
  }
  split_source_list(bytes, options->null_separated, &options->sources);
  return true;
}

int processors() {
  const long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<int>(count) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string complaint;
  switch (read_options(argc, argv, &options, &complaint)) {
    case OptionsVerdict::kHelp:
      fputs(kUsage, stdout);
      return kExitAllConverted;
    case OptionsVerdict::kVersion:
      printf("sondrik %s\n", SONDRIK_VERSION);
      return kExitAllConverted;
    case OptionsVerdict::kUsageError:
      return usage_error(complaint);
    case OptionsVerdict::kRun:
      break;
  }

  if (!options.files_from.empty()) {
    const size_t given = options.sources.size();
    if (!read_source_list(&options)) return kExitUsage;
    if (options.files_from == "-" &&
        std::find(options.sources.begin() + given, options.sources.end(), "-") != options.sources.end()) {
      return usage_error("the list on standard input names '-', standard input itself");
    }
  }

  watch_stop_signals();
  const uint32_t start_tick = tick_count();
  const std::vector<Job> jobs = list_jobs(options);
  if (options.to_stdout && jobs.size() != 1) {
    return usage_error("-c writes one WAV to standard output, but the sources hold " + std::to_string(jobs.size()) +
                       " files");
  }

  // Nobody types an MP2 stream.
  for (const Job& job : jobs) {
    if (job.source == "-" && isatty(STDIN_FILENO)) {
      return usage_error("standard input is a terminal: pipe a stream into '-'");
    }
  }

  // Opened before any conversion, so a report that can't be written costs nothing.
  FILE* report = nullptr;
  if (!options.report_path.empty()) {
    report = fopen(options.report_path.c_str(), "w");
    if (report == nullptr) {
      fprintf(stderr, "ERR %d creating report %s\n", errno, options.report_path.c_str());
      return kExitUsage;
    }
  }

  PoolSettings settings;
  settings.jobs = options.jobs > 0 ? options.jobs : processors();
  settings.force = options.force;
  settings.make_folders = !options.output_dir.empty() && !options.test_only;
  settings.test_only = options.test_only;
  settings.strict = options.strict;
  settings.track = options.track;
  settings.report = report;
  settings.progress = !options.quiet;
  settings.routing.quiet = options.quiet;
  settings.routing.wav_on_stdout = options.to_stdout;
  settings.chunks = chunk_sizes_in_use();
  const RunCounts counts = run_jobs(jobs, settings);

  bool report_failed = false;
  if (report != nullptr) {
    report_failed = ferror(report) != 0;
    report_failed |= fclose(report) != 0;
    if (report_failed) fprintf(stderr, "ERR %d writing report %s\n", errno, options.report_path.c_str());
  }
  const double wall_seconds = static_cast<uint32_t>(tick_count() - start_tick) / 1000.0;
  const std::string summary =
      options.test_only ? check_summary_line(counts, wall_seconds) : summary_line(counts, wall_seconds);
  fprintf(options.to_stdout ? stderr : stdout, "%s\n", summary.c_str());
  fflush(stdout);
  if (stop_signal() != 0) return 128 + stop_signal();
  const bool any_bad = counts.failed > 0 || (options.test_only && counts.damaged > 0) || report_failed;
  return any_bad ? kExitSomeFailed : kExitAllConverted;
}
