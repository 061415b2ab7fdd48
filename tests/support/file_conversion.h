// convert_file, the per-file entry both programs call, with its lines captured.
#pragma once

#include <string>
#include <vector>

struct FileConversion {
  int result = 0;
  std::vector<std::string> lines;
  std::string all() const;
};

// Converts `source` into the .wav file beside it, its lines captured; no
// progress bar.
FileConversion convert_named(const std::string& source);
