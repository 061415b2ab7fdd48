// platform.h over MemoryInput and MemoryOutput. A handle is the address of one
// of them, tagged in its lowest bit (1 for an output).
#include "tests/support/memory_files.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/log_text.h"
#include "platform/report_sinks.h"

uint32_t memory_clock_ms = 0;

namespace {

// Each thread has its own last error, as with the system.
thread_local int memory_errno = 0;

MemoryInput* as_input(FileHandle file) {
  return (file & 1) == 0 ? reinterpret_cast<MemoryInput*>(file) : nullptr;
}
MemoryOutput* as_output(FileHandle file) {
  return (file & 1) == 1 ? reinterpret_cast<MemoryOutput*>(file - 1) : nullptr;
}

}  // namespace

FileHandle memory_handle(MemoryInput* input) { return reinterpret_cast<FileHandle>(input); }
FileHandle memory_handle(MemoryOutput* output) { return reinterpret_cast<FileHandle>(output) + 1; }

bool file_open_read(const char*, FileHandle*) {
  memory_errno = ENOENT;
  return false;
}

bool file_create_write(const char*, FileHandle*) {
  memory_errno = EACCES;
  return false;
}

// Files in memory have no other names.
bool file_is_same(FileHandle, const char*) { return false; }

bool file_read(FileHandle file, void* buffer, uint32_t wanted, uint32_t* got) {
  MemoryInput* in = as_input(file);
  *got = 0;
  if (in == nullptr) {
    memory_errno = EBADF;
    return false;
  }
  if (in->most_per_read != 0 && wanted > in->most_per_read) wanted = in->most_per_read;
  uint64_t end = in->position + wanted;
  if (end > in->size) end = in->size;
  if (in->fail_read_at >= 0 && in->position < end) {
    // Like a bad sector: the bytes before it come, the read after them fails.
    const uint64_t bad = static_cast<uint64_t>(in->fail_read_at);
    if (in->position >= bad) {
      memory_errno = EIO;
      return false;
    }
    if (end > bad) end = bad;
  }
  uint8_t* out = static_cast<uint8_t*>(buffer);
  if (in->pattern_length == 0) end = in->position;
  while (in->position < end) {
    const uint64_t at = in->position % in->pattern_length;
    uint64_t run = in->pattern_length - at;
    if (run > end - in->position) run = end - in->position;
    memcpy(out + *got, in->pattern + at, run);
    *got += static_cast<uint32_t>(run);
    in->position += run;
  }
  if (in->after_read != nullptr) in->after_read(in->after_read_context);
  return true;
}

bool file_open_again(FileHandle, FileHandle*) { return false; }
const bool kReadAtMovesPosition = false;

void* allocate_large_pages(uint64_t bytes) { return aligned_alloc(64, (bytes + 63) / 64 * 64); }

void free_large_pages(void* start, uint64_t) { free(start); }

bool file_read_at(FileHandle file, int64_t offset, void* buffer, uint32_t wanted, uint32_t* got) {
  MemoryInput* in = as_input(file);
  if (in == nullptr || offset < 0) {
    memory_errno = EBADF;
    *got = 0;
    return false;
  }
  if (!in->seekable) {
    memory_errno = ESPIPE;
    *got = 0;
    return false;
  }
  // A read of its own: the input's position and turn-taking are the
  // stream's, and another thread may be moving them.
  MemoryInput copy;
  copy.pattern = in->pattern;
  copy.pattern_length = in->pattern_length;
  copy.size = in->size;
  copy.fail_read_at = in->fail_read_at;
  copy.most_per_read = in->most_per_read;
  copy.position = static_cast<uint64_t>(offset);
  return file_read(memory_handle(&copy), buffer, wanted, got);
}

bool file_write(FileHandle file, const void* buffer, uint32_t count, uint32_t* written) {
  MemoryOutput* out = as_output(file);
  *written = 0;
  if (out == nullptr) {
    memory_errno = EBADF;
    return false;
  }
  uint64_t end = out->position + count;
  bool full = false;
  if (out->fail_write_at >= 0 && end > static_cast<uint64_t>(out->fail_write_at)) {
    end = out->position > static_cast<uint64_t>(out->fail_write_at) ? out->position : out->fail_write_at;
    full = true;
  }
  const uint64_t n = end - out->position;
  const uint64_t kept_end = end < out->keep ? end : out->keep;
  if (out->head.size() < kept_end) out->head.resize(kept_end);
  if (out->position < kept_end) memcpy(out->head.data() + out->position, buffer, kept_end - out->position);
  out->position = end;
  // Seeking past the end and writing nothing doesn't lengthen a file.
  if (n > 0 && end > out->size) out->size = end;
  *written = static_cast<uint32_t>(n);
  if (full) memory_errno = ENOSPC;
  return !full;
}

bool file_seek(FileHandle file, int64_t position) {
  if (MemoryInput* in = as_input(file)) {
    if (!in->seekable) {
      memory_errno = ESPIPE;
      return false;
    }
    in->position = static_cast<uint64_t>(position);
    return true;
  }
  MemoryOutput* out = as_output(file);
  if (out == nullptr || position < 0) {
    memory_errno = EINVAL;
    return false;
  }
  if (!out->seekable) {
    memory_errno = ESPIPE;
    return false;
  }
  out->position = static_cast<uint64_t>(position);
  return true;
}

bool file_can_seek(FileHandle file) {
  if (MemoryInput* in = as_input(file)) return in->seekable;
  if (MemoryOutput* out = as_output(file)) return out->seekable && out->position == 0;
  return false;
}

int64_t file_size(FileHandle file) {
  if (MemoryInput* in = as_input(file)) return in->seekable ? static_cast<int64_t>(in->size) : 0;
  if (MemoryOutput* out = as_output(file)) return static_cast<int64_t>(out->size);
  return -1;
}

void file_close(FileHandle) {}

int last_error() { return memory_errno; }

uint32_t tick_count() { return memory_clock_ms; }

void log_line(LogPane pane, const char* format, ...) {
  if (pane == nullptr) return;
  char line[kLongestLogLine + 1];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  keep_line_end(line, format);
  pane->append(pane->context, line);
}

int32_t progress_report(ProgressBar bar, uint32_t bytes_done, int32_t total_bytes) {
  if (bar == nullptr) return 0;
  return bar->report(bar->context, bytes_done, total_bytes);
}

bool is_path_separator(char c) { return c == '/'; }

