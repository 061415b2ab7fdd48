// The command line's log pane (standard output) and progress bar (standard error).
#pragma once

#include "platform/report_sinks.h"
#include "shell/progress_math.h"

struct TerminalBar {
  ProgressBarState state;
  bool drawn;
};

// Log lines go to standard output with "\n" line ends, clearing the bar first.
LogPaneWindow make_stdout_log(TerminalBar* bar);
// A bar on standard error, as wide as the terminal allows.
ProgressBarWindow make_terminal_bar(TerminalBar* bar);
// Clears the bar's line before other output follows it.
void clear_terminal_bar(TerminalBar* bar);
