// Folders for the command line: walking a tree of sources, creating the
// folders of the destinations.
#pragma once

#include <string>
#include <vector>

struct FolderEntry {
  enum Kind { kFile, kFolder, kLink, kOther };
  std::string name;
  Kind kind;
};

// The entries of the folder at `path`, without "." and "..", sorted by the
// bytes of their names; links are reported as links, never followed. False,
// with the system's number in last_error(), when the folder can't be read.
bool list_folder(const char* path, std::vector<FolderEntry>* entries);
// True when `path` is a folder, or a link to one.
bool is_folder(const char* path);
// Creates the folder at `path` and every missing folder above it. True when
// it exists afterwards.
bool make_folders(const char* path);
