// The per-file entry: derive the .wav path, open both files, decode, close.
#pragma once

#include "platform/platform.h"

// The destination path buffer holds at most this many characters and a terminator.
constexpr int kDestinationPathSize = 1028;

// The windows conversions report to. Null until the front end has them; read
// once at the start of every convert_file.
extern LogPane current_log_pane;
extern ProgressBar current_progress_bar;

// As a source, standard input; as a destination, standard output.
extern const char kStandardStream[];

// What becomes of a destination that exists already.
enum class ExistingDestination { kReplace, kRefuse };

// Converts `source` into the .wav file beside it. 0 on success, -1 after one
// log line on any failure.
int convert_file(const char* source);
int convert_pair(ProgressBar bar, const char* source, const char* destination, LogPane log);
// The same for either name being kStandardStream, and with the choice of
// refusing an existing destination ("ERR: NAME exists; --force replaces it").
int convert_into(ProgressBar bar, const char* source, const char* destination, ExistingDestination existing,
                  LogPane log);

// `path` with its file name's extension replaced by ".wav", into `destination`.
// 0, or -1 after one log line when there is no extension, it is ".wav" already
// or the result doesn't fit.
int derive_wav_path(const char* path, char (&destination)[kDestinationPathSize], LogPane log);
