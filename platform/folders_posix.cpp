#include "platform/folders.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

bool list_folder(const char* path, std::vector<FolderEntry>* entries) {
  entries->clear();
  DIR* folder = opendir(path);
  if (folder == nullptr) return false;
  const std::string prefix = std::string(path) + "/";
  errno = 0;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    FolderEntry::Kind kind = FolderEntry::kOther;
    if (lstat((prefix + name).c_str(), &info) == 0) {
      if (S_ISREG(info.st_mode)) kind = FolderEntry::kFile;
      else if (S_ISDIR(info.st_mode)) kind = FolderEntry::kFolder;
      else if (S_ISLNK(info.st_mode)) kind = FolderEntry::kLink;
    }
    entries->push_back(FolderEntry{name, kind});
  }
  const int read_error = errno;
  closedir(folder);
  if (read_error != 0) {
    errno = read_error;
    return false;
  }
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return true;
}

bool is_folder(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool make_folders(const char* path) {
  std::string partial = path;
  for (size_t at = 1; at <= partial.size(); ++at) {
    if (at != partial.size() && partial[at] != '/') continue;
    const char kept = partial[at];
    partial[at] = '\0';
    // An existing folder (or one another process just made) is what we want.
    if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
    partial[at] = kept;
  }
  if (is_folder(path)) return true;
  errno = ENOTDIR;
  return false;
}
