#include "shell/shell_state.h"

char* command_line_text = nullptr;
char selection_buffer[kSelectionBufferSize];
HWND status_line = nullptr;
