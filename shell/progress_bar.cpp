#include "shell/progress_bar.h"

#include "shell/progress_math.h"

const char kProgressBarClass[] = "myprog";
HBRUSH progress_green_brush = nullptr;

namespace {

// The program has one bar, touched only by the user-interface thread.
ProgressBarState bar_state = {0, 0, 0};

LRESULT on_progress_report(HWND window, WPARAM bytes_done, LPARAM total_bytes) {
  bool moved = false;
  const int32_t threshold =
      apply_progress_report(bar_state, static_cast<uint32_t>(bytes_done), static_cast<int32_t>(total_bytes), &moved);
  // No erase: repainting green over white doesn't flicker.
  if (moved) InvalidateRect(window, nullptr, FALSE);
  return threshold;
}

void paint(HWND window) {
  PAINTSTRUCT paint_info;
  HDC dc = BeginPaint(window, &paint_info);
  const RECT& update = paint_info.rcPaint;
  RECT green = {update.left, update.top, bar_state.position, update.bottom};
  if (green.right > update.right) green.right = update.right;
  if (green.right > green.left) FillRect(dc, &green, progress_green_brush);
  if (bar_state.position < update.right) {
    RECT white = {bar_state.position > update.left ? bar_state.position : update.left, update.top, update.right,
                  update.bottom};
    FillRect(dc, &white, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  EndPaint(window, &paint_info);
}

}  // namespace

LRESULT CALLBACK progress_bar_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      bar_state.position = 0;
      bar_state.width = 0;
      return 0;
    case WM_SIZE:
      bar_state.width = LOWORD(lparam);
      return 0;
    case WM_PAINT:
      paint(window);
      return 0;
    case kProgressReport:
      return on_progress_report(window, wparam, lparam);
    case kProgressTotalQuery:
      return bar_state.total;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}
