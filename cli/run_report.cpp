#include "cli/run_report.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

bool is_error_line(const std::string& line) { return line.compare(0, 3, "ERR") == 0; }

void print_file_lines(const LineRouting& routing, const std::string& source, const std::vector<std::string>& lines) {
  FILE* others = routing.wav_on_stdout ? stderr : stdout;
  if (!routing.quiet) fprintf(others, "Converting %s\n", source.c_str());
  for (const std::string& line : lines) {
    if (is_error_line(line)) {
      // Errors on their own stream still follow the lines before them.
      fflush(others);
      fprintf(stderr, "%s\n", line.c_str());
      fflush(stderr);
    } else if (!routing.quiet) {
      fprintf(others, "%s\n", line.c_str());
    }
  }
  fflush(others);
}

std::string clock_time(double seconds) {
  const int64_t whole = seconds > 0 ? static_cast<int64_t>(seconds) : 0;
  char text[48];
  snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", whole / 3600, static_cast<int>(whole / 60 % 60),
           static_cast<int>(whole % 60));
  return text;
}

std::string summary_line(const RunCounts& counts, double wall_seconds) {
  char text[200];
  snprintf(text, sizeof text, "sondrik finished: %d converted, %d failed, %d skipped; %s of audio in %.1f s",
           counts.converted, counts.failed, counts.skipped, clock_time(counts.audio_seconds).c_str(), wall_seconds);
  return text;
}
