#include "shell/shell_state.h"

char* command_line_text = nullptr;
char selection_buffer[kSelectionBufferSize];
HWND status_line = nullptr;
LogPane current_log_pane = nullptr;
ProgressBar current_progress_bar = nullptr;
