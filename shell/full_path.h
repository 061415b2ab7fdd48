// Builds the path the worker converts: folder, '\' and name, or the name alone.
#pragma once

// The worker's full path buffer, terminator included.
constexpr int kFullPathSize = 1024;

// Writes the path into `path` (kFullPathSize bytes). False, with `path`
// emptied, when it doesn't fit; `folder` may be null.
bool build_full_path(char* path, const char* folder, const char* name);
