// The desktop program's own window messages, for every side that sends or
// handles them: the platform layer, the windows, the worker and the test probe.
#pragma once

#include <windows.h>

// To the progress bar. Report: wParam bytes done, lParam total bytes; the
// reply is the byte count at which the sender should report next.
constexpr UINT kProgressReport = WM_USER;
// To the progress bar. Total query: the reply is the total of the last accepted report.
constexpr UINT kProgressTotalQuery = WM_USER + 1;
// From the worker to the main window when a list is done: wParam 0, lParam 0.
constexpr UINT kConversionFinished = WM_USER + 2;
