// POSIX equivalents of the Win32 services in platform.h.
#include "platform/platform.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/log_text.h"
#include "platform/report_sinks.h"

namespace {

int as_fd(FileHandle file) { return static_cast<int>(file); }

}  // namespace

bool file_open_read(const char* path, FileHandle* file) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // open() happily opens a directory; a source must be a file we can read.
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    errno = EISDIR;
    return false;
  }
  *file = fd;
  return true;
}

bool file_create_write(const char* path, FileHandle* file) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  *file = fd;
  return true;
}

bool file_create_new(const char* path, FileHandle* file) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  *file = fd;
  return true;
}

bool file_remove(const char* path) { return unlink(path) == 0; }

bool path_exists(const char* path) {
  struct stat info;
  return lstat(path, &info) == 0;
}

bool path_is_special(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

bool file_rename(const char* from, const char* to) { return rename(from, to) == 0; }

FileHandle standard_input() { return STDIN_FILENO; }
FileHandle standard_output() { return STDOUT_FILENO; }

bool file_is_same(FileHandle file, const char* path) {
  struct stat open_file, named;
  if (fstat(as_fd(file), &open_file) != 0 || stat(path, &named) != 0) return false;
  return open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

bool file_read(FileHandle file, void* buffer, uint32_t wanted, uint32_t* got) {
  for (;;) {
    ssize_t n = read(as_fd(file), buffer, wanted);
    if (n >= 0) {
      *got = static_cast<uint32_t>(n);
      errno = 0;
      return true;
    }
    if (errno != EINTR) {
      *got = 0;
      return false;
    }
  }
}

void* allocate_large_pages(uint64_t bytes) {
  const uint64_t rounded = (bytes + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes;
  // A large page more than asked for, so that an aligned start lies inside;
  // what lies outside the aligned block goes back at once.
  void* mapped = mmap(nullptr, rounded + kLargePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const uintptr_t from = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t start = (from + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
  if (start > from) munmap(mapped, start - from);
  const uintptr_t tail = from + rounded + kLargePageBytes - (start + rounded);
  if (tail > 0) munmap(reinterpret_cast<void*>(start + rounded), tail);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(start), rounded, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(start);
}

void free_large_pages(void* start, uint64_t bytes) {
  if (start == nullptr) return;
  munmap(start, (bytes + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes);
}

bool file_open_again(FileHandle file, FileHandle* again) {
  // The descriptor's own entry opens the very file it reads, wherever its
  // name has gone since.
  char self[64];
  snprintf(self, sizeof self, "/proc/self/fd/%d", as_fd(file));
  const int fd = open(self, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat opened, original;
  if (fstat(fd, &opened) != 0 || fstat(as_fd(file), &original) != 0 || opened.st_dev != original.st_dev ||
      opened.st_ino != original.st_ino) {
    close(fd);
    return false;
  }
  *again = fd;
  return true;
}

const bool kReadAtMovesPosition = false;

bool file_read_at(FileHandle file, int64_t offset, void* buffer, uint32_t wanted, uint32_t* got) {
  for (;;) {
    const ssize_t n = pread(as_fd(file), buffer, wanted, static_cast<off_t>(offset));
    if (n >= 0) {
      *got = static_cast<uint32_t>(n);
      return true;
    }
    if (errno != EINTR) {
      *got = 0;
      return false;
    }
  }
}

bool file_write(FileHandle file, const void* buffer, uint32_t count, uint32_t* written) {
  // write() may stop short (a full disk answers with a short count first);
  // like WriteFile on a disk file, this writes everything or fails.
  const char* bytes = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = write(as_fd(file), bytes + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *written = done;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      *written = done;
      return false;
    }
    done += static_cast<uint32_t>(n);
  }
  *written = done;
  return true;
}

bool file_seek(FileHandle file, int64_t position) {
  return lseek(as_fd(file), static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool file_can_seek(FileHandle file) {
  const int flags = fcntl(as_fd(file), F_GETFL);
  return flags >= 0 && (flags & O_APPEND) == 0 && lseek(as_fd(file), 0, SEEK_CUR) == 0;
}

int64_t file_size(FileHandle file) {
  struct stat info;
  if (fstat(as_fd(file), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

void file_close(FileHandle file) { close(as_fd(file)); }

int last_error() { return errno; }

uint32_t tick_count() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

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
