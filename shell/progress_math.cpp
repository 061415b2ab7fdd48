#include "shell/progress_math.h"

int32_t apply_progress_report(ProgressBarState& bar, uint32_t bytes_done, int32_t total_bytes, bool* moved) {
  *moved = false;
  if (bar.width == 0 || total_bytes == 0) return 0;
  bar.total = total_bytes;
  // 64-bit products: width times bytes easily passes 32 bits.
  const int64_t position = static_cast<int64_t>(bar.width) * static_cast<int64_t>(bytes_done) / total_bytes;
  int64_t threshold = (position + 1) * total_bytes / bar.width + 1;
  if (threshold > total_bytes) threshold = total_bytes;
  if (position != bar.position) {
    bar.position = static_cast<int32_t>(position);
    *moved = true;
  }
  return static_cast<int32_t>(threshold);
}
