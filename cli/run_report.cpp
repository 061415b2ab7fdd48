#include "cli/run_report.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

namespace {

// "1 gap", "3 gaps".
std::string counted(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// How long and how many frames, for the verdicts.
std::string extent(const StreamOutcome& outcome) {
  return clock_time(outcome_seconds(outcome)) + " (" + counted(outcome.frames, "frame", "frames") + ")";
}

// An error line as the reason of a verdict: "ERR: no MPEG audio frames found"
// gives "no MPEG audio frames found", "ERR 2 opening a.mp2" "error 2 opening a.mp2".
std::string reason_of(const std::string& line) {
  if (line.compare(0, 5, "ERR: ") == 0) return line.substr(5);
  if (line.compare(0, 6, "ERROR ") == 0) return "error " + line.substr(6);
  if (line.compare(0, 4, "ERR ") == 0) return "error " + line.substr(4);
  return line;
}

}  // namespace

bool is_error_line(const std::string& line) { return line.compare(0, 3, "ERR") == 0; }

void print_lines(const LineRouting& routing, const std::vector<std::string>& lines) {
  FILE* others = routing.wav_on_stdout ? stderr : stdout;
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

void print_file_lines(const LineRouting& routing, const std::string& source, const std::vector<std::string>& lines) {
  if (!routing.quiet) fprintf(routing.wav_on_stdout ? stderr : stdout, "Converting %s\n", source.c_str());
  print_lines(routing, lines);
}

std::string clock_time(double seconds) {
  const int64_t whole = seconds > 0 ? static_cast<int64_t>(seconds) : 0;
  char text[48];
  snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", whole / 3600, static_cast<int>(whole / 60 % 60),
           static_cast<int>(whole % 60));
  return text;
}

std::string summary_line(const RunCounts& counts, double wall_seconds) {
  const std::string damaged =
      counts.damaged > 0 ? " (" + std::to_string(counts.damaged) + " with gaps or CRC errors)" : std::string();
  char text[240];
  snprintf(text, sizeof text, "sondrik finished: %d converted%s, %d failed, %d skipped; %s of audio in %.1f s",
           counts.converted, damaged.c_str(), counts.failed, counts.skipped, clock_time(counts.audio_seconds).c_str(),
           wall_seconds);
  return text;
}

std::string check_summary_line(const RunCounts& counts, double wall_seconds) {
  char text[240];
  snprintf(text, sizeof text, "sondrik finished: %d checked (%d OK, %d damaged, %d failed); %s of audio in %.1f s",
           counts.converted + counts.failed, counts.converted - counts.damaged, counts.damaged, counts.failed,
           clock_time(counts.audio_seconds).c_str(), wall_seconds);
  return text;
}

std::string damage_counts(const StreamOutcome& outcome) {
  std::string text;
  if (outcome.gap_count > 0) {
    text = counted(outcome.gap_count, "gap", "gaps") + " (" + counted(outcome.bytes.gaps, "byte", "bytes") + ")";
  }
  if (outcome.crc_error_count > 0) {
    if (!text.empty()) text += ", ";
    text += counted(outcome.crc_error_count, "CRC error", "CRC errors");
  }
  return text;
}

std::string verdict_line(const std::string& source, bool checked, const StreamOutcome& outcome,
                         const std::vector<std::string>& lines) {
  if (checked) {
    if (!outcome_damaged(outcome)) return source + ": OK, " + extent(outcome);
    return "ERR: " + source + ": DAMAGED, " + damage_counts(outcome) + "; " + extent(outcome);
  }
  // The decoder's interrupt line speaks of a WAV file; here there is none.
  std::string reason;
  if (outcome.ending == StreamEnding::Interrupted) {
    reason = "interrupted after " + extent(outcome);
  } else {
    for (const std::string& line : lines) {
      if (is_error_line(line)) {
        reason = reason_of(line);
        break;
      }
    }
  }
  if (reason.empty()) reason = "no verdict";
  return "ERR: " + source + ": FAILED, " + reason;
}

std::string strict_line(const std::string& source, const StreamOutcome& outcome) {
  return "ERR: " + source + " is damaged: " + damage_counts(outcome) + "; --strict counts it as failed";
}
