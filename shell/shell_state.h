// What the main window and the conversion worker share. Written on the
// user-interface thread before a worker starts, never while one runs
// ("Select files" stays disabled until the worker's completion notice).
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "shell/selection_buffer.h"

// The text after the program's name; an empty string once a dialog run has
// started, so a non-empty text means a command-line run. The worker splits
// it in place.
extern char* command_line_text;

// Filled by the open-file dialog.
extern char selection_buffer[kSelectionBufferSize];

extern HWND status_line;

// The log pane and the progress bar every conversion reports to.
extern LogPane current_log_pane;
extern ProgressBar current_progress_bar;
