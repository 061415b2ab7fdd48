// A file layer in memory, for the test and fuzz programs that link it in place
// of the real platform layer: inputs of any size without the disk, outputs
// that keep only their first bytes, and reads or writes that fail on cue.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

// The input's bytes are `pattern` repeated until `size`; file_size answers `size`.
struct MemoryInput {
  const uint8_t* pattern = nullptr;
  uint64_t pattern_length = 0;
  uint64_t size = 0;
  int64_t fail_read_at = -1;  // reads stop short at this offset; the next one fails
  bool seekable = true;       // false: like a pipe, it can't be rewound
  uint32_t most_per_read = 0;  // a read brings at most this many bytes; 0: no limit
  // Called after every read, on the reading thread: where two conversions
  // take turns.
  void (*after_read)(void* context) = nullptr;
  void* after_read_context = nullptr;
  uint64_t position = 0;
};

struct MemoryOutput {
  uint64_t keep = 1 << 20;        // bytes kept from the start of the file
  int64_t fail_write_at = -1;     // a write reaching this offset stops there, disk full
  bool seekable = true;           // false: like a pipe, what is written stays
  std::vector<uint8_t> head;      // the kept bytes
  uint64_t size = 0;
  uint64_t position = 0;
};

FileHandle memory_handle(MemoryInput* input);
FileHandle memory_handle(MemoryOutput* output);

// What the test program's clock answers; it only moves when told to.
extern uint32_t memory_clock_ms;
