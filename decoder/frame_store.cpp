#include <cstring>

#include "decoder/frame_list.h"

FrameEntry FrameStore::at(int64_t i) const {
  const ListedFrame& frame = frames[i];
  FrameEntry entry;
  entry.offset = runs[i / kFramesPerRun].offset + frame.offset_in_run;
  entry.header[0] = 0xFF;
  memcpy(entry.header + 1, frame.header, sizeof frame.header);
  entry.length = read_header(free_format_length, entry.header).length;
  return entry;
}

int64_t FrameStore::other_back(int64_t i) const {
  const auto body = [this](int64_t j) {
    const uint8_t header[4] = {0xFF, frames[j].header[0], frames[j].header[1], frames[j].header[2]};
    return body_of(header);
  };
  const int own = body(i);
  const int64_t run_start = i - i % kFramesPerRun;
  for (int64_t j = i - 1; j >= run_start; --j) {
    if (body(j) != own) return i - j;
  }
  const int32_t last = runs[i / kFramesPerRun].last_of_body[1 - own];
  return last >= 0 ? i - last : 0;
}
