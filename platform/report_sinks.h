// Where the "windows" the decoder reports to are not Win32 windows, they are
// these sinks: a function and its context. The command-line front end and the
// tests provide them.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct LogPaneWindow {
  void (*append)(void* context, const char* line);
  void* context;
};

struct ProgressBarWindow {
  int32_t (*report)(void* context, uint32_t bytes_done, int32_t total_bytes);
  void* context;
};
