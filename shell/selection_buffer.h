// Reads the names the open-file dialog left in its selection buffer.
#pragma once

constexpr int kSelectionBufferSize = 8192;

// One chosen file: its full path and two terminators. Several: the folder,
// then each name, each with its terminator, and an empty string after the last.
enum class SelectionShape {
  kEmpty,
  kOneFile,         // the first string is the file's full path
  kFolderAndNames,  // the first string is the folder the names are in
};

// Where a scan of the buffer stands. Nothing is read at or past `size`: a
// selection that overflows the buffer may come back without its terminators.
struct SelectionScan {
  const char* buffer;
  int size;
  int next;        // offset of the next name
  bool ended;      // no names remain
  bool cut_short;  // the buffer ended before the empty string that ends the list
};

// Classifies the buffer and readies the scan for the names after the first string.
SelectionShape start_selection_scan(const char* buffer, int size, SelectionScan* scan);

// Appends up to `capacity` names to `names` and returns how many; 0 once the
// list has ended. A string the buffer cut off is not handed out.
int next_selection_names(SelectionScan& scan, const char** names, int capacity);
