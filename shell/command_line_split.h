// Splits the program's command-line text into file names, in place.
#pragma once

// The file list holds this many names at a time.
constexpr int kFileListLimit = 256;

// Where a split stopped: the text can hold more names than one list, so the
// split hands them out a list at a time and resumes where it stopped.
struct CommandLineSplit {
  char* next;    // first character not yet examined
  bool quoted;   // inside double quotes
  bool in_name;  // a name has started and not yet ended
};

CommandLineSplit start_command_line_split(char* text);

// Appends up to `capacity` names to `names` and returns how many. Blanks end a
// name outside quotes; a closing quote ends it inside; both are overwritten
// with terminators. Returns 0 once the text is used up.
int split_command_line(CommandLineSplit& split, char** names, int capacity);
