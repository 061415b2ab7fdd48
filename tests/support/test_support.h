// Shared helpers for the tests: scratch folders, captured log lines, files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/stream.h"
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

// A tmpfs of `bytes` mounted over a folder for the life of the object; only
// root can mount, so check mounted().
class SmallFilesystem {
 public:
  SmallFilesystem(const std::string& at, size_t bytes);
  ~SmallFilesystem();
  SmallFilesystem(const SmallFilesystem&) = delete;
  SmallFilesystem& operator=(const SmallFilesystem&) = delete;
  bool mounted() const { return mounted_; }
  bool make_read_only();

 private:
  std::string at_;
  bool mounted_;
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

// The fields of a canonical 44-byte WAV header.
struct WavHeaderFields {
  bool canonical;  // RIFF/WAVE/fmt /data in their places, PCM, 16 bits
  uint32_t riff_size;
  uint16_t channels;
  uint32_t sample_rate;
  uint32_t byte_rate;
  uint16_t block_align;
  uint32_t data_size;
};
WavHeaderFields parse_wav_header(const std::vector<uint8_t>& file);
// The 16-bit samples after the header.
std::vector<int16_t> wav_samples(const std::vector<uint8_t>& file);
std::vector<uint8_t> joined(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second);

// decode_stream over open handles, with storage of its own.
int decode_handles(LogPane log, FileHandle output, FileHandle input, ProgressBar bar,
                   SynthesisPath path = synthesis_path_in_use(), StreamOutcome* outcome = nullptr);
// Runs decode_stream from `input` into `output` with the given sinks.
int decode_file(const std::string& input, const std::string& output, LogPane log, ProgressBar bar,
                SynthesisPath path = synthesis_path_in_use(), StreamOutcome* outcome = nullptr);

// What decode_stream made of a stream, through real files.
struct Conversion {
  int result = 0;
  std::vector<std::string> lines;
  std::vector<uint8_t> wav;
  StreamOutcome outcome;
  // The closing statistics line; a failure's line may follow it.
  std::string statistics() const {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
      if (line->find(" frames est ") != std::string::npos) return *line;
    }
    return "";
  }
};
Conversion convert_bytes(const std::vector<uint8_t>& mp2, ProgressBar bar = nullptr,
                         SynthesisPath path = synthesis_path_in_use());

// The closing line when all `frames` frames of `channels` channels were written.
std::string statistics_line(int64_t frames, int channels);
