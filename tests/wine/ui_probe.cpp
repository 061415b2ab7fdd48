// Drives the real sondrik.exe from outside, as a user would: reads its windows
// with WM_GETTEXT, clicks by posting WM_COMMAND (refusing disabled buttons),
// answers message boxes and the open-file dialog, and checks what it sees.
//
//   ui_probe EXE STEP [ARG...] STEP [ARG...] ...
//
// Steps run in order. The first that fails prints "FAIL: ..." and ends the
// probe with status 1, ending the program too. Every wait polls for its
// condition, with a deadline. A text argument that starts with '@' is read
// from the file it names (for texts with quotes, line ends or UTF-8).
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/window_messages.h"

namespace {

constexpr int kSelectFilesId = 2;
constexpr int kExitId = 3;
constexpr int kHelpId = 4;
constexpr DWORD kDeadlineMs = 60000;
constexpr DWORD kConversionDeadlineMs = 120000;
const char kDialogTitle[] = "Select files to convert to wav";
const char kFinishedLine[] = "sondrik finished\r\n";

PROCESS_INFORMATION program = {};
std::string current_step;
HWND main_window = nullptr;

[[noreturn]] void fail(const std::string& why) {
  printf("FAIL: %s: %s\n", current_step.c_str(), why.c_str());
  fflush(stdout);
  if (program.hProcess != nullptr) TerminateProcess(program.hProcess, 99);
  exit(1);
}

std::string utf8_of(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring wide_of(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string read_whole_file(const std::string& path) {
  FILE* f = _wfopen(wide_of(path).c_str(), L"rb");
  if (f == nullptr) fail("can't read " + path);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
  fclose(f);
  return text;
}

void write_whole_file(const std::string& path, const std::string& text) {
  FILE* f = _wfopen(wide_of(path).c_str(), L"wb");
  if (f == nullptr) fail("can't write " + path);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

// An argument, or with a leading '@' the contents of the file it names.
std::string text_argument(const std::string& argument) {
  return argument.size() > 1 && argument[0] == '@' ? read_whole_file(argument.substr(1)) : argument;
}

// Text of a window of another process: WM_GETTEXT is marshalled across
// processes, GetWindowText is not. A window that is gone reads as empty.
std::string window_text(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 30000, &length)) {
    if (!IsWindow(window)) return std::string();
    fail("no answer to WM_GETTEXTLENGTH");
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]), SMTO_NORMAL,
                           30000, &copied)) {
    if (!IsWindow(window)) return std::string();
    fail("no answer to WM_GETTEXT");
  }
  text.resize(copied);
  return utf8_of(text);
}

std::string class_of(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out + "\"";
}

// Polls `condition` until it holds or the deadline passes.
template <typename Condition>
bool poll(Condition condition, DWORD deadline_ms = kDeadlineMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > deadline_ms) return false;
    if (WaitForSingleObject(program.hProcess, 0) == WAIT_OBJECT_0) return condition();
    Sleep(10);
  }
}

struct WindowSearch {
  const char* class_name;  // null: any
  const char* title;       // null: any
  std::vector<HWND> found;
};

BOOL CALLBACK collect_program_window(HWND window, LPARAM context) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != program.dwProcessId || !IsWindowVisible(window)) return TRUE;
  if (search->class_name != nullptr && class_of(window) != search->class_name) return TRUE;
  if (search->title != nullptr && window_text(window) != search->title) return TRUE;
  search->found.push_back(window);
  return TRUE;
}

// The program's visible top-level windows of that class and title.
std::vector<HWND> program_windows(const char* class_name, const char* title) {
  WindowSearch search = {class_name, title, {}};
  EnumWindows(collect_program_window, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The main window's children in creation order.
std::vector<HWND> children() {
  std::vector<HWND> list;
  for (HWND child = GetWindow(main_window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    list.push_back(child);
  }
  if (list.size() != 6) fail("the main window has " + std::to_string(list.size()) + " children, not 6");
  return list;
}

HWND status_line() { return children()[0]; }
HWND button(int id) { return GetDlgItem(main_window, id); }
HWND log_pane() { return children()[4]; }
HWND progress_bar() { return children()[5]; }

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

RECT rect_in_main_window(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, main_window, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// ---- steps ----

void launch(const std::string& exe, const std::string& raw_arguments) {
  // The exact raw command line the program's start-up sees after its own name.
  std::wstring command_line = L"\"" + wide_of(exe) + L"\"";
  if (!raw_arguments.empty()) command_line += L" " + wide_of(raw_arguments);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &program)) {
    fail("can't start " + exe + ": error " + std::to_string(GetLastError()));
  }
  std::vector<HWND> found;
  if (!poll([&] { return (found = program_windows("wclass", nullptr)).size() >= 1; })) fail("no main window");
  if (found.size() != 1) fail("more than one main window");
  main_window = found[0];
  if (window_text(main_window) != "sondrik 008") fail("title is " + quoted(window_text(main_window)));
}

void check_children() {
  struct Expected {
    const char* class_name;
    const char* text;
    DWORD style;
    int id;
  };
  const Expected expected[6] = {
      {"Static", "sondrik converter", WS_CHILD | WS_VISIBLE, 0},
      {"Button", "Select files", WS_CHILD | WS_VISIBLE | WS_BORDER, kSelectFilesId},
      {"Button", "Exit", WS_CHILD | WS_VISIBLE | WS_BORDER, kExitId},
      {"Button", "Help", WS_CHILD | WS_VISIBLE | WS_BORDER, kHelpId},
      {"Edit", "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE, 0},
      {"myprog", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 0},
  };
  std::vector<HWND> list = children();
  for (int i = 0; i < 6; ++i) {
    const Expected& e = expected[i];
    const std::string name = "child " + std::to_string(i + 1);
    if (_stricmp(class_of(list[i]).c_str(), e.class_name) != 0) fail(name + " is of class " + class_of(list[i]));
    if (window_text(list[i]) != e.text) fail(name + " reads " + quoted(window_text(list[i])));
    DWORD style = static_cast<DWORD>(GetWindowLongA(list[i], GWL_STYLE));
    // The edit control takes WS_BORDER out of its style and draws the border itself.
    if (i == 4) style |= WS_BORDER;
    if ((style & e.style) != e.style) fail(name + " lacks style bits: " + std::to_string(style));
    if (GetDlgCtrlID(list[i]) != e.id) fail(name + " has id " + std::to_string(GetDlgCtrlID(list[i])));
  }
  // The log pane's font can't be checked from here: Wine doesn't answer WM_GETFONT across processes.
}

void check_buttons(bool converting) {
  const bool select_files = IsWindowEnabled(button(kSelectFilesId)) != FALSE;
  const bool exit_enabled = IsWindowEnabled(button(kExitId)) != FALSE;
  const bool help = IsWindowEnabled(button(kHelpId)) != FALSE;
  if (select_files == converting || exit_enabled == converting || !help) {
    fail(std::string("buttons not in the ") + (converting ? "converting" : "idle") + " state");
  }
}

void click(int id) {
  HWND b = button(id);
  // A disabled button can't be clicked with the mouse either.
  if (!IsWindowEnabled(b)) fail("button " + std::to_string(id) + " is disabled");
  PostMessageA(main_window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(b));
}

void wait_done() {
  if (!poll([] { return IsWindowEnabled(button(kSelectFilesId)) && ends_with(window_text(log_pane()), kFinishedLine); },
            kConversionDeadlineMs)) {
    fail("the conversion didn't finish; log: " + quoted(window_text(log_pane())));
  }
  check_buttons(false);
}

HWND wait_for_box(const std::string& title) {
  std::vector<HWND> found;
  if (!poll([&] { return !(found = program_windows("#32770", title.c_str())).empty(); })) {
    fail("no window titled " + quoted(title));
  }
  return found[0];
}

// The message text of a message box: its static control with id 0xFFFF.
std::string box_text(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  if (text == nullptr) fail("the message box has no text control");
  return window_text(text);
}

void press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void wait_gone(HWND window, const char* what) {
  if (!poll([&] { return !IsWindow(window); })) fail(std::string(what) + " stays open");
}

// Returns once the program's user-interface thread is back in its message
// loop: a message sent from another process is only handled there (or in a
// modal loop), so whatever the thread did after closing a dialog is done.
void sync_with_program() {
  DWORD_PTR ignored = 0;
  if (!SendMessageTimeoutW(main_window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored)) fail("the program doesn't answer");
}

// The open-file dialog has closed, and the main window has acted on it.
void wait_dialog_closed(HWND dialog) {
  wait_gone(dialog, "the dialog");
  sync_with_program();
}

void answer_box(const std::string& title, const std::string& text) {
  HWND box = wait_for_box(title);
  if (box_text(box) != text) fail("box text is " + quoted(box_text(box)));
  press(box, IDOK);
  wait_gone(box, "the message box");
}

void check_no_other_windows() {
  std::vector<HWND> windows = program_windows(nullptr, nullptr);
  for (HWND w : windows) {
    if (w != main_window) fail("an extra window is open: " + quoted(window_text(w)));
  }
}

// The open-file dialog's file-name box: the edit control inside the
// file-name combo box (cmb13), or a plain edit (edt1) in older layouts.
HWND file_name_box(HWND dialog) {
  HWND combo = GetDlgItem(dialog, 0x47c);
  while (combo != nullptr && class_of(combo) != "Edit") {
    HWND inner = GetWindow(combo, GW_CHILD);
    if (inner == nullptr) break;
    combo = inner;
  }
  if (combo == nullptr || class_of(combo) != "Edit") combo = GetDlgItem(dialog, 0x480);
  if (combo == nullptr) fail("the dialog has no file-name box");
  return combo;
}

HWND dialog_window() {
  std::vector<HWND> found = program_windows("#32770", kDialogTitle);
  if (found.empty()) fail("the open-file dialog isn't open");
  return found[0];
}

void check_dialog() {
  HWND dialog = wait_for_box(kDialogTitle);
  HWND filter = GetDlgItem(dialog, 0x470);  // cmb1, the file types
  if (filter == nullptr) fail("the dialog has no file-type box");
  if (window_text(filter) != "mp2 Files (*.mp2 *.mpeg)") fail("the file-type box reads " + quoted(window_text(filter)));
}

void type_in_dialog(const std::string& text) {
  HWND box = file_name_box(dialog_window());
  const std::wstring wide = wide_of(text);
  SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  if (window_text(box) != text) fail("the file-name box didn't take " + quoted(text));
}

// OK in the dialog, sent rather than posted: it returns once the dialog has
// acted on it. With a folder typed, the dialog enters it ("Look in" then names
// the folder); with names, it closes.
void dialog_ok(const std::string& folder) {
  HWND dialog = dialog_window();
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)), SMTO_NORMAL, 30000, &ignored);
  if (folder.empty()) {
    wait_dialog_closed(dialog);
    return;
  }
  const std::string last_part = folder.substr(folder.find_last_of('\\') + 1);
  if (window_text(GetDlgItem(dialog, 0x471)) != last_part) {
    fail("the dialog didn't enter " + folder + ": it shows " + quoted(window_text(GetDlgItem(dialog, 0x471))));
  }
}

void check_layout() {
  // The buttons keep their places; the rest follows the client area.
  auto layout_matches = [](std::string* mismatch) {
    RECT client;
    GetClientRect(main_window, &client);
    const int w = client.right;
    const int h = client.bottom;
    const int log_height = h > 80 ? h - 80 : 0;
    struct Expected {
      int child;
      RECT rect;
    };
    const Expected expected[6] = {
        {1, {0, 0, 160, 22}},     {3, {160, 0, 240, 22}}, {2, {240, 0, 320, 22}},
        {0, {0, 22, w, 58}},      {5, {0, 58, w, 76}},    {4, {0, 80, w, 80 + log_height}},
    };
    std::vector<HWND> list = children();
    for (const Expected& e : expected) {
      RECT r = rect_in_main_window(list[static_cast<size_t>(e.child)]);
      if (!EqualRect(&r, &e.rect)) {
        char text[160];
        snprintf(text, sizeof text, "child %d at %ld,%ld-%ld,%ld, not %ld,%ld-%ld,%ld (client %dx%d)", e.child + 1,
                 r.left, r.top, r.right, r.bottom, e.rect.left, e.rect.top, e.rect.right, e.rect.bottom, w, h);
        *mismatch = text;
        return false;
      }
    }
    return true;
  };
  std::string mismatch;
  if (!poll([&] { return layout_matches(&mismatch); })) fail(mismatch);
}

void resize(int width, int height) {
  SetWindowPos(main_window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (!poll([&] {
        RECT r;
        GetWindowRect(main_window, &r);
        return r.right - r.left == width && r.bottom - r.top == height;
      })) {
    fail("the window wasn't resized");
  }
}

// Pixels of a rectangle of the screen, as the user sees it, 0x00RRGGBB.
std::vector<uint32_t> capture_screen(const RECT& area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  GdiFlush();
  std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits),
                               static_cast<const uint32_t*>(bits) + static_cast<size_t>(width) * height);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  for (uint32_t& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

// The main window as a 24-bit BMP file.
void save_screenshot(const std::string& path) {
  RECT area;
  GetWindowRect(main_window, &area);
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  std::vector<uint32_t> pixels = capture_screen(area);
  const int row_bytes = (width * 3 + 3) & ~3;
  const uint32_t data_bytes = static_cast<uint32_t>(row_bytes * height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + data_bytes;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // bottom row first
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = data_bytes;
  std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
  bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
  for (int y = height - 1; y >= 0; --y) {
    std::string row(static_cast<size_t>(row_bytes), '\0');
    for (int x = 0; x < width; ++x) {
      const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
      row[static_cast<size_t>(x) * 3] = static_cast<char>(p & 0xFF);
      row[static_cast<size_t>(x) * 3 + 1] = static_cast<char>((p >> 8) & 0xFF);
      row[static_cast<size_t>(x) * 3 + 2] = static_cast<char>((p >> 16) & 0xFF);
    }
    bytes += row;
  }
  write_whole_file(path, bytes);
}

// Every pixel inside the bar's border has the colour: green after a finished
// conversion, white after a reset.
void check_bar_colour(const std::string& name) {
  const uint32_t colour = name == "green" ? 0x00FF00 : name == "white" ? 0xFFFFFF : 1;
  if (colour == 1) fail("no colour " + name);
  RECT area;
  GetClientRect(progress_bar(), &area);
  MapWindowPoints(progress_bar(), nullptr, reinterpret_cast<POINT*>(&area), 2);
  if (area.right - area.left < 100) fail("the bar is too narrow to check");
  std::vector<uint32_t> pixels;
  // The last repaint may still be on its way to the screen.
  const bool all_match = poll([&] {
    pixels = capture_screen(area);
    for (uint32_t p : pixels) {
      if (p != colour) return false;
    }
    return true;
  }, 5000);
  if (!all_match) {
    size_t matching = 0;
    for (uint32_t p : pixels) matching += p == colour;
    fail("the bar isn't all " + name + ": " + std::to_string(matching) + " of " + std::to_string(pixels.size()) +
         " pixels are");
  }
}

void check_total(long expected) {
  DWORD_PTR total = 0;
  if (!SendMessageTimeoutA(progress_bar(), kProgressTotalQuery, 0, 0, SMTO_NORMAL, 30000, &total)) {
    fail("no answer to the total query");
  }
  if (static_cast<long>(total) != expected) fail("the bar's total is " + std::to_string(static_cast<long>(total)));
}

void check_exit(DWORD expected) {
  if (WaitForSingleObject(program.hProcess, kDeadlineMs) != WAIT_OBJECT_0) fail("the program didn't end");
  DWORD code = 0;
  GetExitCodeProcess(program.hProcess, &code);
  if (code != expected) fail("exit code " + std::to_string(code));
  CloseHandle(program.hProcess);
  CloseHandle(program.hThread);
  program = PROCESS_INFORMATION{};
}

BOOL CALLBACK print_child(HWND child, LPARAM) {
  printf("  child %s id=0x%x %s\n", class_of(child).c_str(), GetDlgCtrlID(child), quoted(window_text(child)).c_str());
  return TRUE;
}

// Prints every window of the program with its children: for finding out
// what a failing step saw.
void print_tree() {
  for (HWND top : program_windows(nullptr, nullptr)) {
    printf("window %s %s\n", class_of(top).c_str(), quoted(window_text(top)).c_str());
    EnumChildWindows(top, print_child, 0);
  }
}

}  // namespace

int main() {
  // The arguments as UTF-16, into UTF-8: names outside the code page survive.
  int argc = 0;
  LPWSTR* wide_argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> arguments;
  for (int a = 0; a < argc; ++a) arguments.push_back(utf8_of(wide_argv[a]));
  LocalFree(wide_argv);
  std::vector<const char*> argv;
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  if (argc < 3) {
    fprintf(stderr, "usage: ui_probe EXE STEP [ARG...]...\n");
    return 2;
  }
  const std::string exe = argv[1];
  int i = 2;
  auto next_argument = [&](const std::string& step) -> std::string {
    if (i >= argc) fail(step + " needs an argument");
    return argv[i++];
  };
  while (i < argc) {
    const std::string step = argv[i++];
    current_step = step;
    if (step != "launch" && main_window == nullptr) fail(step + " before launch");
    if (step == "launch") {
      launch(exe, text_argument(next_argument(step)));
    } else if (step == "children") {
      check_children();
    } else if (step == "idle") {
      check_buttons(false);
    } else if (step == "converting") {
      check_buttons(true);
    } else if (step == "status") {
      const std::string expected = text_argument(next_argument(step));
      if (window_text(status_line()) != expected) fail("status line reads " + quoted(window_text(status_line())));
    } else if (step == "log") {
      const std::string expected = text_argument(next_argument(step));
      if (window_text(log_pane()) != expected) fail("log pane reads " + quoted(window_text(log_pane())));
    } else if (step == "save-log") {
      write_whole_file(next_argument(step), window_text(log_pane()));
    } else if (step == "wait-done") {
      wait_done();
    } else if (step == "click") {
      click(atoi(next_argument(step).c_str()));
    } else if (step == "box") {
      const std::string title = next_argument(step);
      answer_box(title, text_argument(next_argument(step)));
    } else if (step == "no-other-windows") {
      check_no_other_windows();
    } else if (step == "dialog") {
      check_dialog();
    } else if (step == "type") {
      type_in_dialog(text_argument(next_argument(step)));
    } else if (step == "enter-folder") {
      const std::string folder = text_argument(next_argument(step));
      type_in_dialog(folder);
      dialog_ok(folder);
    } else if (step == "ok") {
      dialog_ok(std::string());
    } else if (step == "cancel") {
      HWND dialog = dialog_window();
      press(dialog, IDCANCEL);
      wait_dialog_closed(dialog);
    } else if (step == "layout") {
      check_layout();
    } else if (step == "resize") {
      const int width = atoi(next_argument(step).c_str());
      resize(width, atoi(next_argument(step).c_str()));
    } else if (step == "total") {
      check_total(atol(next_argument(step).c_str()));
    } else if (step == "screenshot") {
      save_screenshot(next_argument(step));
    } else if (step == "bar") {
      check_bar_colour(next_argument(step));
    } else if (step == "tree") {
      print_tree();
    } else if (step == "close") {
      PostMessageA(main_window, WM_CLOSE, 0, 0);
    } else if (step == "exit") {
      check_exit(static_cast<DWORD>(atol(next_argument(step).c_str())));
    } else {
      fail("unknown step " + step);
    }
    printf("ok: %s\n", step.c_str());
  }
  if (program.hProcess != nullptr) fail("the program is still running at the end");
  return 0;
}
