#include "decoder/frame_list.h"

FrameEntry FrameStore::at(int64_t i) const {
  FrameEntry entry;
  entry.offset = offset(i);
  header(i, entry.header);
  entry.length = read_header(free_format_length, entry.header).length;
  return entry;
}

int64_t FrameStore::other_back(int64_t i) const {
  const auto body = [this](int64_t j) {
    uint8_t bytes[4];
    header(j, bytes);
    return body_of(bytes);
  };
  const int own = body(i);
  const int64_t run_start = i - i % kFramesPerRun;
  for (int64_t j = i - 1; j >= run_start; --j) {
    if (body(j) != own) return i - j;
  }
  const int32_t last = runs[i / kFramesPerRun].last_of_body[1 - own];
  return last >= 0 ? i - last : 0;
}
