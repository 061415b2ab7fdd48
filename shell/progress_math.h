// The progress bar's arithmetic, shared by the Windows bar and the terminal bar.
#pragma once

#include <cstdint>

struct ProgressBarState {
  int32_t position;  // columns left of it are filled
  int32_t width;     // client width in columns
  int32_t total;     // total bytes of the last accepted report
};

// Applies a progress report and returns the byte count at which the sender
// should report next (0 when the report is ignored). *moved tells whether
// the position changed, i.e. whether to repaint.
int32_t apply_progress_report(ProgressBarState& bar, uint32_t bytes_done, int32_t total_bytes, bool* moved);
