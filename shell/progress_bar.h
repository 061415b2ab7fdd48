// The progress bar window, class "myprog": green up to the position, white beyond.
#pragma once

#include <windows.h>

// Progress report: wParam bytes done, lParam total bytes; the reply is the
// byte count at which the sender should report next.
constexpr UINT kProgressReport = WM_USER;
// Total query: the reply is the total of the last accepted report.
constexpr UINT kProgressTotalQuery = WM_USER + 1;

extern const char kProgressBarClass[];

// Created and deleted by the main window; the bar only paints with it.
extern HBRUSH progress_green_brush;

LRESULT CALLBACK progress_bar_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
