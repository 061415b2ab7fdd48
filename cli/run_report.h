// What the run prints: each file's lines, routed to standard output or
// standard error, and the closing summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RunCounts {
  int converted = 0;
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

// "sondrik finished: 12 converted, 1 failed, 0 skipped; 3:25:10 of audio in 41.2 s"
std::string summary_line(const RunCounts& counts, double wall_seconds);
// h:mm:ss, rounded down to the second.
std::string clock_time(double seconds);
