// The progress bar window, class "myprog": green up to the position, white beyond.
#pragma once

#include <windows.h>

#include "platform/window_messages.h"

// It answers kProgressReport and kProgressTotalQuery (platform/window_messages.h).

extern const char kProgressBarClass[];

// Created and deleted by the main window; the bar only paints with it.
extern HBRUSH progress_green_brush;

LRESULT CALLBACK progress_bar_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
