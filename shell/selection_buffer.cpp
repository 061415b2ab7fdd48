#include "shell/selection_buffer.h"

namespace {

// Offset of the terminator of the string at `start`, or -1 when the buffer ends first.
int terminator_of(const SelectionScan& scan, int start) {
  for (int i = start; i < scan.size; ++i) {
    if (scan.buffer[i] == '\0') return i;
  }
  return -1;
}

}  // namespace

SelectionShape start_selection_scan(const char* buffer, int size, SelectionScan* scan) {
  *scan = SelectionScan{buffer, size, 0, true, false};
  if (size <= 0 || buffer[0] == '\0') return SelectionShape::kEmpty;
  const int end = terminator_of(*scan, 0);
  if (end < 0) {
    scan->cut_short = true;
    return SelectionShape::kEmpty;
  }
  if (end + 1 < size && buffer[end + 1] == '\0') return SelectionShape::kOneFile;
  scan->next = end + 1;
  scan->ended = false;
  return SelectionShape::kFolderAndNames;
}

int next_selection_names(SelectionScan& scan, const char** names, int capacity) {
  int count = 0;
  while (!scan.ended && count < capacity) {
    const int end = scan.next < scan.size ? terminator_of(scan, scan.next) : -1;
    if (end < 0) {
      scan.ended = true;
      scan.cut_short = true;
    } else if (end == scan.next) {
      scan.ended = true;
    } else {
      names[count++] = scan.buffer + scan.next;
      scan.next = end + 1;
    }
  }
  return count;
}
