// The progress line on standard error: file name, percentage, bar, speed as
// a multiple of real time and the time left. Drawn only on a terminal.
#pragma once

#include <cstdint>
#include <string>

struct ProgressLine {
  bool enabled = false;
  bool drawn = false;
};

// Enabled when standard error is a terminal.
ProgressLine make_progress_line(bool wanted);
// Redraws the line; `speed` and `seconds_left` are shown when positive.
void draw_progress_line(ProgressLine& line, const std::string& name, double fraction, double speed,
                        double seconds_left);
// Clears the line before other output follows it.
void clear_progress_line(ProgressLine& line);
