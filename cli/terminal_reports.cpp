#include "cli/terminal_reports.h"

#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kLabelColumns = 8;  // " 100% [" and "]"

void append_to_stdout(void* context, const char* line) {
  // A line printed while the bar is drawn would land on the bar's own line.
  if (context != nullptr) clear_terminal_bar(static_cast<TerminalBar*>(context));
  size_t length = strlen(line);
  if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') {
    fwrite(line, 1, length - 2, stdout);
    fputc('\n', stdout);
  } else {
    fputs(line, stdout);
  }
  fflush(stdout);
}

int terminal_columns() {
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void draw(TerminalBar* bar) {
  const ProgressBarState& s = bar->state;
  int filled = s.position < 0 ? 0 : (s.position > s.width ? s.width : s.position);
  int percent = s.width > 0 ? filled * 100 / s.width : 0;
  char line[512];
  int n = snprintf(line, sizeof line, "\r%4d%% [", percent);
  for (int i = 0; i < s.width && n < static_cast<int>(sizeof line) - 3; ++i) line[n++] = i < filled ? '#' : ' ';
  line[n++] = ']';
  fwrite(line, 1, static_cast<size_t>(n), stderr);
  fflush(stderr);
  bar->drawn = true;
}

int32_t report_to_terminal(void* context, uint32_t bytes_done, int32_t total_bytes) {
  TerminalBar* bar = static_cast<TerminalBar*>(context);
  bool moved = false;
  int32_t threshold = apply_progress_report(bar->state, bytes_done, total_bytes, &moved);
  if (moved) draw(bar);
  return threshold;
}

}  // namespace

LogPaneWindow make_stdout_log(TerminalBar* bar) { return LogPaneWindow{append_to_stdout, bar}; }

ProgressBarWindow make_terminal_bar(TerminalBar* bar) {
  int width = terminal_columns() - kLabelColumns - 1;
  if (width > 400) width = 400;
  if (width < 10) width = 10;
  bar->state = ProgressBarState{0, width, 0};
  bar->drawn = false;
  return ProgressBarWindow{report_to_terminal, bar};
}

void clear_terminal_bar(TerminalBar* bar) {
  if (!bar->drawn) return;
  fputs("\r\033[K", stderr);
  fflush(stderr);
  bar->drawn = false;
}
