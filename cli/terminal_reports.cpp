#include "cli/terminal_reports.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/run_report.h"

namespace {

int terminal_columns() {
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

ProgressLine make_progress_line(bool wanted) {
  ProgressLine line;
  line.enabled = wanted && isatty(STDERR_FILENO);
  return line;
}

void draw_progress_line(ProgressLine& line, const std::string& name, double fraction, double speed,
                        double seconds_left) {
  if (!line.enabled) return;
  if (fraction < 0) fraction = 0;
  if (fraction > 1) fraction = 1;
  char percent[16];
  snprintf(percent, sizeof percent, " %3d%%", static_cast<int>(fraction * 100));
  std::string figures;
  if (speed > 0) {
    char text[32];
    snprintf(text, sizeof text, " %.1fx", speed);
    figures = text;
    if (seconds_left > 0) figures += " " + clock_time(seconds_left) + " left";
  }
  const std::string tail = percent;
  const int columns = terminal_columns() - 1;
  // Room for the speed and the time left from the start, so the bar keeps its width.
  constexpr int kFiguresRoom = 24;
  const int fixed = static_cast<int>(tail.size()) + 3 + kFiguresRoom;
  // The name gets at most a third of the line; the bar what remains.
  std::string shown = name;
  const int name_room = columns / 3;
  if (static_cast<int>(shown.size()) > name_room) shown = "..." + shown.substr(shown.size() - (name_room - 3));
  int width = columns - fixed - static_cast<int>(shown.size());
  if (width > 50) width = 50;
  std::string text = "\r" + shown + tail;
  if (width >= 5) {
    const int filled = static_cast<int>(fraction * width);
    text += " [" + std::string(filled, '#') + std::string(width - filled, ' ') + "]";
  }
  text += figures;
  text += "\033[K";
  fputs(text.c_str(), stderr);
  fflush(stderr);
  line.drawn = true;
}

void clear_progress_line(ProgressLine& line) {
  if (!line.drawn) return;
  fputs("\r\033[K", stderr);
  fflush(stderr);
  line.drawn = false;
}
