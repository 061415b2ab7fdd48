// The Win32 services behind platform.h, called exactly as the program needs them.
#include "platform/platform.h"

#include <windows.h>

#include <cstdarg>

#include "platform/log_text.h"
#include "platform/window_messages.h"

namespace {

HANDLE as_handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
HWND as_window(void* window) { return static_cast<HWND>(window); }

}  // namespace

bool file_open_read(const char* path, FileHandle* file) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<FileHandle>(h);
  return true;
}

bool file_create_write(const char* path, FileHandle* file) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<FileHandle>(h);
  return true;
}

bool file_create_new(const char* path, FileHandle* file) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<FileHandle>(h);
  return true;
}

bool file_remove(const char* path) { return DeleteFileA(path) != FALSE; }

bool path_exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool path_is_special(const char* path) {
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(file);
  CloseHandle(file);
  return type != FILE_TYPE_DISK;
}

bool file_rename(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

FileHandle standard_input() { return reinterpret_cast<FileHandle>(GetStdHandle(STD_INPUT_HANDLE)); }
FileHandle standard_output() { return reinterpret_cast<FileHandle>(GetStdHandle(STD_OUTPUT_HANDLE)); }

bool file_is_same(FileHandle file, const char* path) {
  HANDLE named = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  const bool same = GetFileInformationByHandle(as_handle(file), &a) && GetFileInformationByHandle(named, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                    a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}

bool file_read(FileHandle file, void* buffer, uint32_t wanted, uint32_t* got) {
  DWORD n = 0;
  BOOL ok = ReadFile(as_handle(file), buffer, wanted, &n, nullptr);
  *got = ok ? n : 0;
  // A read that succeeds leaves the last error alone: an empty input would
  // report whatever came before (creating over an existing file leaves
  // ERROR_ALREADY_EXISTS). Cleared as the POSIX side clears errno.
  if (ok) SetLastError(ERROR_SUCCESS);
  return ok != FALSE;
}

// A handle of its own, with its own file pointer: reads at an offset move the
// pointer here, and the listing reads on through the first handle meanwhile.
// ReOpenFile came with Vista; before it, the file is converted in one pass.
bool file_open_again(FileHandle file, FileHandle* again) {
  using ReOpenFileCall = HANDLE(WINAPI*)(HANDLE, DWORD, DWORD, DWORD);
  static const ReOpenFileCall reopen = reinterpret_cast<ReOpenFileCall>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "ReOpenFile")));
  if (reopen == nullptr) return false;
  const HANDLE handle =
      reopen(as_handle(file), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *again = reinterpret_cast<FileHandle>(handle);
  return true;
}

// Large pages need a privilege users don't have: small ones, then.
void* allocate_large_pages(uint64_t bytes) {
  return VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void free_large_pages(void* start, uint64_t) {
  if (start != nullptr) VirtualFree(start, 0, MEM_RELEASE);
}

bool file_read_at(FileHandle file, int64_t offset, void* buffer, uint32_t wanted, uint32_t* got) {
  *got = 0;
  // A read at an offset moves the file pointer on Windows; the sequential
  // reads go on from where they were. Without a position (a pipe) there is
  // nothing to read at an offset, and reading would consume the stream.
  LARGE_INTEGER here = {};
  if (!SetFilePointerEx(as_handle(file), LARGE_INTEGER{}, &here, FILE_CURRENT)) return false;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  BOOL ok = ReadFile(as_handle(file), buffer, wanted, &n, &at);
  // Past the end is no failure: nothing more to read.
  if (!ok && GetLastError() == ERROR_HANDLE_EOF) ok = TRUE;
  *got = ok ? n : 0;
  const DWORD error = GetLastError();
  if (!SetFilePointerEx(as_handle(file), here, nullptr, FILE_BEGIN)) return false;
  SetLastError(ok ? ERROR_SUCCESS : error);
  return ok != FALSE;
}

const bool kReadAtMovesPosition = true;

bool file_write(FileHandle file, const void* buffer, uint32_t count, uint32_t* written) {
  DWORD n = 0;
  BOOL ok = WriteFile(as_handle(file), buffer, count, &n, nullptr);
  *written = n;
  return ok != FALSE;
}

bool file_seek(FileHandle file, int64_t position) {
  // On a pipe SetFilePointer may report success without moving.
  if (GetFileType(as_handle(file)) != FILE_TYPE_DISK) {
    SetLastError(ERROR_SEEK);
    return false;
  }
  LONG high = static_cast<LONG>(position >> 32);
  DWORD low = SetFilePointer(as_handle(file), static_cast<LONG>(position & 0xFFFFFFFF), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

// The same test as file_seek's: only a disk file moves.
bool file_can_seek(FileHandle file) {
  if (GetFileType(as_handle(file)) != FILE_TYPE_DISK) return false;
  LONG high = 0;
  return SetFilePointer(as_handle(file), 0, &high, FILE_CURRENT) == 0 && high == 0;
}

int64_t file_size(FileHandle file) {
  DWORD high = 0;
  DWORD low = GetFileSize(as_handle(file), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  return (static_cast<int64_t>(high) << 32) | low;
}

void file_close(FileHandle file) { CloseHandle(as_handle(file)); }

int last_error() { return static_cast<int>(GetLastError()); }

uint32_t tick_count() { return GetTickCount(); }

void log_line(LogPane pane, const char* format, ...) {
  if (pane == nullptr) return;
  char line[kLongestLogLine + 1];
  va_list args;
  va_start(args, format);
  wvsprintfA(line, format, args);
  va_end(args);
  keep_line_end(line, format);
  SendMessageA(as_window(pane), EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(line));
}

int32_t progress_report(ProgressBar bar, uint32_t bytes_done, int32_t total_bytes) {
  if (bar == nullptr) return 0;
  return static_cast<int32_t>(SendMessageA(as_window(bar), kProgressReport, bytes_done, total_bytes));
}

bool is_path_separator(char c) { return c == '\\' || c == '/' || c == ':'; }
