// Progress reports carry 32-bit signed sizes. Past 2 GiB the sender reports
// in units of 2^shift bytes, the same shift for the bytes done and the total,
// so whoever announces a total ahead of the decoder must scale it alike.
#pragma once

#include <cstdint>

inline int progress_shift_for(int64_t total_bytes) {
  int shift = 0;
  while ((total_bytes >> shift) > INT32_MAX) ++shift;
  return shift;
}

inline int32_t scaled_for_progress(int64_t bytes, int shift) { return static_cast<int32_t>(bytes >> shift); }
