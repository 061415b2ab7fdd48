#include "shell/command_line_split.h"

CommandLineSplit start_command_line_split(char* text) { return CommandLineSplit{text, false, false}; }

int split_command_line(CommandLineSplit& split, char** names, int capacity) {
  int count = 0;
  for (char* c = split.next; *c != '\0'; ++c) {
    if (*c == '"') {
      // A closing quote ends the name; an opening one after a name's start stays in it.
      if (split.quoted) *c = '\0';
      split.quoted = !split.quoted;
    } else if (*c == ' ' && !split.quoted) {
      *c = '\0';
      split.in_name = false;
    } else if (!split.in_name) {
      if (count == capacity) {
        split.next = c;  // the next list starts with this name
        return count;
      }
      names[count++] = c;
      split.in_name = true;
    }
    split.next = c + 1;
  }
  return count;
}
