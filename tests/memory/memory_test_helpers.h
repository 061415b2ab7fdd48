// What the tests over files in memory share: a log that keeps its lines and
// little-endian fields read back out of a kept file head.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/report_sinks.h"

struct Lines {
  std::vector<std::string> lines;
  LogPaneWindow pane{[](void* self, const char* line) { static_cast<Lines*>(self)->lines.push_back(line); }, this};
};

inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

inline uint64_t le64(const std::vector<uint8_t>& b, size_t at) {
  return le32(b, at) | (static_cast<uint64_t>(le32(b, at + 4)) << 32);
}

inline std::string tag(const std::vector<uint8_t>& b, size_t at) {
  return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
}
