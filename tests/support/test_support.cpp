#include "tests/support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "decoder/stream.h"
#include "tests/support/little_endian.h"

ScratchDir::ScratchDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/sondrik-test-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name.data();
}

ScratchDir::~ScratchDir() {
  std::string command = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
  if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", path_.c_str());
}

SmallFilesystem::SmallFilesystem(const std::string& at, size_t bytes) : at_(at) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
  mounted_ = getuid() == 0 && mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallFilesystem::~SmallFilesystem() {
  if (mounted_) umount(at_.c_str());
}

bool SmallFilesystem::make_read_only() {
  return mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

CapturedLog::CapturedLog() {
  pane.context = this;
  pane.append = [](void* context, const char* line) { static_cast<CapturedLog*>(context)->lines.push_back(line); };
}

std::string CapturedLog::all() const {
  std::string text;
  for (const auto& line : lines) text += line;
  return text;
}

RecordedProgress::RecordedProgress() {
  bar.context = this;
  bar.report = [](void* context, uint32_t done, int32_t total) -> int32_t {
    auto* self = static_cast<RecordedProgress*>(context);
    self->reports.push_back({done, total});
    if (self->answer != nullptr) return self->answer(done, total);
    return static_cast<int32_t>(done);
  };
}

std::string test_data(const std::string& relative) { return std::string(SONDRIK_TEST_DATA) + "/" + relative; }

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::string sha256_of_file(const std::string& path) {
  std::string command = "sha256sum '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  char hash[65] = {0};
  size_t n = fread(hash, 1, 64, pipe);
  pclose(pipe);
  return std::string(hash, n);
}

int decode_handles(LogPane log, FileHandle output, FileHandle input, ProgressBar bar, SynthesisPath path,
                   StreamOutcome* outcome) {
  std::unique_ptr<PcmBatch> batch(new PcmBatch);
  DecodeRequest request;
  request.input = input;
  request.output = output;
  request.log = log;
  request.bar = bar;
  request.batch = batch.get();
  request.path = path;
  return decode_stream(request, outcome);
}

int decode_file(const std::string& input, const std::string& output, LogPane log, ProgressBar bar, SynthesisPath path,
                StreamOutcome* outcome) {
  int in = open(input.c_str(), O_RDONLY);
  int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) throw std::runtime_error("cannot open " + input + " or " + output);
  int result = decode_handles(log, out, in, bar, path, outcome);
  close(in);
  close(out);
  return result;
}

Conversion convert_bytes(const std::vector<uint8_t>& mp2, ProgressBar bar, SynthesisPath path) {
  ScratchDir dir;
  write_file(dir.file("in.mp2"), mp2);
  CapturedLog log;
  Conversion c;
  c.result = decode_file(dir.file("in.mp2"), dir.file("out.wav"), &log.pane, bar, path, &c.outcome);
  c.lines = log.lines;
  c.wav = read_file(dir.file("out.wav"));
  return c;
}

std::string statistics_line(int64_t frames, int channels) {
  const std::string bytes = std::to_string(frames * channels * 2304);
  return std::to_string(frames) + " frames est " + bytes + ",  " + bytes + " written " + bytes + " datasize\r\n";
}

WavHeaderFields parse_wav_header(const std::vector<uint8_t>& file) {
  WavHeaderFields h{};
  if (file.size() < 44) return h;
  h.canonical = memcmp(file.data(), "RIFF", 4) == 0 && memcmp(file.data() + 8, "WAVEfmt ", 8) == 0 &&
                le32(file.data() + 16) == 16 && le16(file.data() + 20) == 1 && le16(file.data() + 34) == 16 &&
                memcmp(file.data() + 36, "data", 4) == 0;
  h.riff_size = le32(file.data() + 4);
  h.channels = le16(file.data() + 22);
  h.sample_rate = le32(file.data() + 24);
  h.byte_rate = le32(file.data() + 28);
  h.block_align = le16(file.data() + 32);
  h.data_size = le32(file.data() + 40);
  return h;
}

std::vector<int16_t> wav_samples(const std::vector<uint8_t>& file) {
  std::vector<int16_t> samples;
  for (size_t at = 44; at + 1 < file.size(); at += 2) samples.push_back(static_cast<int16_t>(le16(file.data() + at)));
  return samples;
}

std::vector<uint8_t> joined(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second) {
  std::vector<uint8_t> all = first;
  all.insert(all.end(), second.begin(), second.end());
  return all;
}
