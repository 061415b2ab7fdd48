#include "shell/full_path.h"

#include <cstring>

bool build_full_path(char* path, const char* folder, const char* name) {
  path[0] = '\0';
  // Bounded measures: a name from the command line can be of any length.
  const size_t folder_length = folder != nullptr ? strnlen(folder, kFullPathSize) : 0;
  const size_t separator_length = folder != nullptr ? 1 : 0;
  const size_t name_length = strnlen(name, kFullPathSize);
  if (folder_length + separator_length + name_length >= static_cast<size_t>(kFullPathSize)) return false;
  if (folder != nullptr) {
    memcpy(path, folder, folder_length);
    path[folder_length] = '\\';
  }
  memcpy(path + folder_length + separator_length, name, name_length + 1);
  return true;
}
