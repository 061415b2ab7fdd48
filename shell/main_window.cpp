// The program entry and the main window: three buttons, the status line, the
// progress bar and the log pane, the open-file dialog and the help box.
#include <windows.h>
#include <commdlg.h>

#include "platform/window_messages.h"
#include "shell/progress_bar.h"
#include "shell/shell_state.h"
#include "shell/worker.h"

namespace {

constexpr int kSelectFilesId = 2;
constexpr int kExitId = 3;
constexpr int kHelpId = 4;

// The layout: a row of fixed buttons, then the full-width children.
constexpr int kButtonRowHeight = 22;
constexpr int kLogPaneTop = 80;

const char kMainWindowClass[] = "wclass";
const char kHelpText[] =
    "sondrik converts mp2 files (48k or 44.1k) to wav files\n"
    "The wav files will be the same mode (mono or stereo) as the mp2 file\n"
    "Click \"Select files\" to choose the mp2 files to convert\n"
    "The wav files are put in the same folder as the mp2 files\n"
    "You can also convert files by dragging them onto the sondrik icon\n";
// One filter; its pattern list matches both extensions.
const char kDialogFilter[] = "mp2 Files (*.mp2 *.mpeg)\0*.mp2;*.mpeg\0";

char no_command_line[] = "";

static_assert(sizeof(OPENFILENAMEA) == 88, "the dialog record is the full OPENFILENAMEA");

HINSTANCE program_instance = nullptr;
HWND select_files_button = nullptr;
HWND exit_button = nullptr;
HWND help_button = nullptr;
HWND log_pane = nullptr;
HWND progress_bar = nullptr;
OPENFILENAMEA dialog_record;
HANDLE worker_thread = nullptr;

HWND create_child(HWND parent, const char* class_name, const char* text, DWORD style, int id) {
  return CreateWindowExA(0, class_name, text, style, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), program_instance, nullptr);
}

void fill_dialog_record(HWND window) {
  ZeroMemory(&dialog_record, sizeof dialog_record);
  dialog_record.lStructSize = sizeof dialog_record;
  dialog_record.hwndOwner = window;
  dialog_record.lpstrFilter = kDialogFilter;
  dialog_record.lpstrFile = selection_buffer;
  dialog_record.nMaxFile = kSelectionBufferSize;
  dialog_record.lpstrTitle = "Select files to convert to wav";
  dialog_record.Flags = OFN_ALLOWMULTISELECT | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_LONGNAMES;
  dialog_record.lpstrDefExt = "";
}

void start_worker(HWND window) {
  worker_thread = CreateThread(nullptr, 0, conversion_worker, window, 0, nullptr);
  if (worker_thread == nullptr) {
    // Without a worker no completion notice would ever re-enable the buttons.
    log_line(current_log_pane, "ERROR %d starting the conversion\r\n", last_error());
    return;
  }
  EnableWindow(select_files_button, FALSE);
  EnableWindow(exit_button, FALSE);
}

void on_create(HWND window) {
  status_line = create_child(window, "static", "sondrik converter", WS_CHILD | WS_VISIBLE, 0);
  select_files_button = create_child(window, "button", "Select files", WS_CHILD | WS_VISIBLE | WS_BORDER, kSelectFilesId);
  exit_button = create_child(window, "button", "Exit", WS_CHILD | WS_VISIBLE | WS_BORDER, kExitId);
  help_button = create_child(window, "button", "Help", WS_CHILD | WS_VISIBLE | WS_BORDER, kHelpId);
  log_pane = create_child(window, "edit", "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE, 0);
  progress_bar = create_child(window, kProgressBarClass, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 0);
  SendMessageA(log_pane, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), 0);
  // The default limit of about 30000 characters would drop the lines of a long run.
  SendMessageA(log_pane, EM_SETLIMITTEXT, 0, 0);
  current_log_pane = reinterpret_cast<LogPane>(log_pane);
  current_progress_bar = reinterpret_cast<ProgressBar>(progress_bar);

  progress_green_brush = CreateSolidBrush(RGB(0, 255, 0));
  selection_buffer[0] = '\0';
  fill_dialog_record(window);

  if (command_line_text != nullptr && command_line_text[0] != '\0') {
    selection_buffer[0] = '\0';
    start_worker(window);
  }
}

void on_size(LPARAM size) {
  const int width = LOWORD(size);
  const int height = HIWORD(size);
  MoveWindow(select_files_button, 0, 0, 160, kButtonRowHeight, TRUE);
  MoveWindow(help_button, 160, 0, 80, kButtonRowHeight, TRUE);
  MoveWindow(exit_button, 240, 0, 80, kButtonRowHeight, TRUE);
  MoveWindow(status_line, 0, kButtonRowHeight, width, 36, TRUE);
  MoveWindow(progress_bar, 0, 58, width, 18, TRUE);
  // A window shorter than the controls above leaves the log pane no height.
  MoveWindow(log_pane, 0, kLogPaneTop, width, height > kLogPaneTop ? height - kLogPaneTop : 0, TRUE);
}

void on_select_files(HWND window) {
  // Only one worker at a time: the decoder's bit reader is process-wide.
  if (worker_thread != nullptr) return;
  if (GetOpenFileNameA(&dialog_record)) {
    SetWindowTextA(log_pane, "");
    command_line_text = no_command_line;
    start_worker(window);
    return;
  }
  const DWORD reason = CommDlgExtendedError();
  if (reason == 0) return;  // cancelled
  char text[64];
  wsprintfA(text, "ERROR %d (tell Tovik!)", static_cast<int>(reason));
  MessageBoxA(nullptr, text, "Select File Error", MB_ICONERROR);
}

void on_conversion_finished() {
  CloseHandle(worker_thread);
  worker_thread = nullptr;
  EnableWindow(select_files_button, TRUE);
  EnableWindow(exit_button, TRUE);
  log_line(current_log_pane, "sondrik finished\r\n");
}

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      on_create(window);
      return 0;
    case WM_SIZE:
      on_size(lparam);
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case kSelectFilesId:
          on_select_files(window);
          return 0;
        case kExitId:
          DestroyWindow(window);
          return 0;
        case kHelpId:
          MessageBoxA(window, kHelpText, "sondrik help", MB_OK);
          return 0;
      }
      break;
    case kConversionFinished:
      on_conversion_finished();
      return 0;
    case WM_DESTROY:
      DeleteObject(progress_green_brush);
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

bool register_class(const char* name, WNDPROC procedure, HBRUSH background) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = program_instance;
  window_class.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = background;
  window_class.lpszClassName = name;
  return RegisterClassA(&window_class) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show_command) {
  program_instance = instance;
  command_line_text = command_line;
  if (!register_class(kMainWindowClass, main_window_procedure, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)) ||
      !register_class(kProgressBarClass, progress_bar_procedure, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)))) {
    return 0;
  }
  HWND main_window = CreateWindowExA(0, kMainWindowClass, "sondrik 008", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                     CW_USEDEFAULT, 550, 250, nullptr, nullptr, instance, nullptr);
  if (main_window == nullptr) return 0;
  ShowWindow(main_window, show_command);
  UpdateWindow(main_window);

  MSG message;
  // GetMessageA's -1 (an error) ends the loop too.
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
