// What the run prints: each file's lines, routed to standard output or
// standard error, the verdicts of -t and the closing summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/stream_outcome.h"

struct RunCounts {
  int converted = 0;  // with -t: checked to the end
  int damaged = 0;    // of those, with gaps or CRC errors
  int failed = 0;
  int skipped = 0;
  double audio_seconds = 0;
};

// Where lines go: ERR/ERROR lines always to standard error; the rest to
// standard output, or standard error when the WAV itself goes to standard
// output, or nowhere when quiet.
struct LineRouting {
  bool quiet = false;
  bool wav_on_stdout = false;
};

bool is_error_line(const std::string& line);
// Prints "Converting SOURCE" and the file's lines, in one piece.
void print_file_lines(const LineRouting& routing, const std::string& source, const std::vector<std::string>& lines);
// Prints lines without a heading (the verdicts of -t).
void print_lines(const LineRouting& routing, const std::vector<std::string>& lines);

// "sondrik finished: 12 converted (2 with gaps or CRC errors), 1 failed, 0 skipped; 3:25:10 of audio in 41.2 s",
// the parenthesis only when a converted file was damaged.
std::string summary_line(const RunCounts& counts, double wall_seconds);
// With -t: "sondrik finished: 13 checked (10 OK, 2 damaged, 1 failed); 3:25:10 of audio in 4.1 s".
std::string check_summary_line(const RunCounts& counts, double wall_seconds);
// h:mm:ss, rounded down to the second.
std::string clock_time(double seconds);

// "3 gaps (5120 bytes), 2 CRC errors", naming only what the stream has.
std::string damage_counts(const StreamOutcome& outcome);
// The one line of -t for a file:
//   "NAME: OK, 0:10:24 (26000 frames)"
//   "ERR: NAME: DAMAGED, 3 gaps (5120 bytes), 2 CRC errors; 0:10:24 (26000 frames)"
//   "ERR: NAME: FAILED, REASON", the reason taken from the file's first error line.
std::string verdict_line(const std::string& source, bool checked, const StreamOutcome& outcome,
                         const std::vector<std::string>& lines);
// --strict on a converted file with damage:
//   "ERR: NAME is damaged: 3 gaps (5120 bytes), 2 CRC errors; --strict counts it as failed"
std::string strict_line(const std::string& source, const StreamOutcome& outcome);
