// The per-file entry: derive the .wav path, open both files, decode, close.
#pragma once

#include "platform/platform.h"

// The destination path buffer holds at most this many characters and a terminator.
constexpr int kDestinationPathSize = 1028;

// The windows conversions report to. Null until the front end has them; read
// once at the start of every convert_file.
extern LogPane current_log_pane;
extern ProgressBar current_progress_bar;

// Converts `source` into the .wav file beside it. 0 on success, -1 after one
// log line on any failure.
int convert_file(const char* source);
int convert_pair(ProgressBar bar, const char* source, const char* destination, LogPane log);
