// sondrik FILE...: converts each MP2 file into a WAV file beside it.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "cli/terminal_reports.h"
#include "shell/convert.h"

namespace {

constexpr int kExitAllConverted = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: sondrik [--help] [--version] FILE...\n"
    "Converts each MPEG-1 Layer II (.mp2) FILE into a 16-bit PCM .wav file\n"
    "in the same folder, under the same name with the extension \".wav\".\n"
    "Exit status: 0 when every file converted, 1 when any failed, 2 for a usage error.\n";

}  // namespace

int main(int argc, char** argv) {
  int first_file = 1;
  if (argc >= 2 && strcmp(argv[1], "--") == 0) {
    first_file = 2;
  } else if (argc >= 2 && strcmp(argv[1], "--help") == 0) {
    fputs(kUsage, stdout);
    return kExitAllConverted;
  } else if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
    printf("sondrik %s\n", SONDRIK_VERSION);
    return kExitAllConverted;
  } else if (argc >= 2 && argv[1][0] == '-' && argv[1][1] != '\0') {
    fprintf(stderr, "sondrik: unknown option %s\n%s", argv[1], kUsage);
    return kExitUsage;
  }
  if (first_file >= argc) {
    fputs(kUsage, stderr);
    return kExitUsage;
  }

  TerminalBar terminal_bar;
  ProgressBarWindow bar = make_terminal_bar(&terminal_bar);
  LogPaneWindow log = make_stdout_log(&terminal_bar);
  current_log_pane = &log;
  current_progress_bar = isatty(STDERR_FILENO) ? &bar : nullptr;

  int exit_status = kExitAllConverted;
  for (int i = first_file; i < argc; ++i) {
    printf("Converting %s\n", argv[i]);
    fflush(stdout);
    if (convert_file(argv[i]) != 0) exit_status = kExitSomeFailed;
    clear_terminal_bar(&terminal_bar);
  }
  printf("sondrik finished\n");
  return exit_status;
}
