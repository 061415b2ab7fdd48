// Shared helpers for the tests: scratch folders, captured log lines, files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/report_sinks.h"

// A fresh folder under the system's temporary folder, removed with its contents.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A log pane that keeps every line it is given, line ends included.
struct CapturedLog {
  std::vector<std::string> lines;
  LogPaneWindow pane;
  CapturedLog();
  std::string all() const;
};

// A progress bar that records reports and answers with a fixed rule.
struct RecordedProgress {
  struct Report {
    uint32_t done;
    int32_t total;
  };
  std::vector<Report> reports;
  int32_t (*answer)(uint32_t done, int32_t total) = nullptr;  // null: next byte
  ProgressBarWindow bar;
  RecordedProgress();
};

std::string test_data(const std::string& relative);
std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
bool file_exists(const std::string& path);
std::string sha256_of_file(const std::string& path);

// Runs decode_stream from `input` into `output` with the given sinks.
int decode_file(const std::string& input, const std::string& output, LogPane log, ProgressBar bar);
