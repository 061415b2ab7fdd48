// The conversion worker: converts a list of files on its own thread.
#pragma once

#include <windows.h>

// Thread routine; the parameter is the main window, which gets the
// completion notice when the list is done. Returns 0.
DWORD WINAPI conversion_worker(LPVOID main_window);
