// The few operating-system services the decoder and the per-file entry use.
// On Windows they are thin wrappers over Win32; elsewhere our own equivalents.
// Nothing outside platform/ and the Windows program touches the system directly.
#pragma once

#include <cstdint>

// A Win32 HANDLE on Windows, a file descriptor elsewhere.
typedef intptr_t FileHandle;
constexpr FileHandle kNoFile = -1;

// The two windows the decoder reports to. On Windows these are the HWNDs of
// the log pane and the progress bar; elsewhere they point at the sinks in
// platform/report_sinks.h. A null pane or bar means: write nothing, send nothing.
struct LogPaneWindow;
struct ProgressBarWindow;
typedef LogPaneWindow* LogPane;
typedef ProgressBarWindow* ProgressBar;

// Source: must exist, read only, others may go on reading and writing it.
bool file_open_read(const char* path, FileHandle* file);
// Destination: created or emptied, write only, others may read it meanwhile.
bool file_create_write(const char* path, FileHandle* file);
// The same, but fails (the system's "file exists") when `path` already exists.
bool file_create_new(const char* path, FileHandle* file);
// Deletes the file at `path`; false when it can't.
bool file_remove(const char* path);
// True when something (a file, a folder, a link) exists at `path`.
bool path_exists(const char* path);
// True when `path` names something that is not a regular file (a named
// pipe, a device): it is written to directly, never through a part file.
bool path_is_special(const char* path);
// Moves `from` to `to`, replacing a file there; false when it can't.
bool file_rename(const char* from, const char* to);
// The process's standard input and output, for reading and writing streams.
FileHandle standard_input();
FileHandle standard_output();
// True when `path` names the open `file` itself (through a link, say).
bool file_is_same(FileHandle file, const char* path);
// Reads up to `wanted` bytes; *got is 0 at the end of the file.
bool file_read(FileHandle file, void* buffer, uint32_t wanted, uint32_t* got);
// Reads up to `wanted` bytes from `offset` on, so that several threads may
// read one file; *got is 0 past its end. The position file_read goes on from
// stays where it was (on Windows only one thread may read a file).
bool file_read_at(FileHandle file, int64_t offset, void* buffer, uint32_t wanted, uint32_t* got);
// The same open file once more, with a position and read-ahead of its own:
// reads at scattered places through it leave the sequential reads of
// `file` their read-ahead. false where the system can't (then use `file`).
bool file_open_again(FileHandle file, FileHandle* again);
// Whether file_read_at moves the position for a moment (Windows): then one
// thread reading at offsets and another in order need a handle each.
extern const bool kReadAtMovesPosition;
// Memory for a long-lived buffer, straight from the system and given back to
// it when freed (an allocator would keep it for the process): whole large
// pages where the system has them, so the first touch costs one fault per
// 2 MiB instead of 512. Null when there is none.
void* allocate_large_pages(uint64_t bytes);
void free_large_pages(void* start, uint64_t bytes);
constexpr uint64_t kLargePageBytes = 2 << 20;
// Writes all `count` bytes or fails; *written tells how many made it.
bool file_write(FileHandle file, const void* buffer, uint32_t count, uint32_t* written);
bool file_seek(FileHandle file, int64_t position);
// True when the file can be written at any offset from its start, as a WAV
// header written last needs. False for a pipe, a terminal or a socket, and
// for a file opened to append or already past its start (standard output
// redirected after other output): there, what is written stays where it went.
bool file_can_seek(FileHandle file);
// The file's size in bytes, or -1 when it can't be had.
int64_t file_size(FileHandle file);
void file_close(FileHandle file);

// The system's number for the last failure of a call above.
int last_error();
// Milliseconds from an arbitrary start; wraps like the Win32 tick counter.
uint32_t tick_count();

// Formats one line (cut as platform/log_text.h says) and appends it to the pane.
void log_line(LogPane pane, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Sends a progress report; the bar's reply is the byte count at which it
// wants the next one. A null bar answers 0.
int32_t progress_report(ProgressBar bar, uint32_t bytes_done, int32_t total_bytes);

// True for the characters that end a folder name in a path ('/' everywhere;
// also '\' and ':' on Windows).
bool is_path_separator(char c);
