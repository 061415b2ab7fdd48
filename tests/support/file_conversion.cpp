#include "tests/support/file_conversion.h"

#include "shell/convert.h"
#include "tests/support/test_support.h"

std::string FileConversion::all() const {
  std::string text;
  for (const auto& line : lines) text += line;
  return text;
}

FileConversion convert_named(const std::string& source) {
  CapturedLog log;
  current_log_pane = &log.pane;
  current_progress_bar = nullptr;
  FileConversion c;
  c.result = convert_file(source.c_str());
  current_log_pane = nullptr;
  c.lines = log.lines;
  return c;
}
