// Streams whose frames change between one and two channels: the whole file
// must have two channels and play at the right speed, whichever comes first.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include "decoder/stream.h"
#include "tests/support/test_support.h"

namespace {

constexpr size_t kFrameSamples = 1152;
constexpr size_t kFramesPerPart = 13;

std::vector<uint8_t> mono_part() { return read_file(test_data("switch/mono_48k_96k.mp2")); }
std::vector<uint8_t> stereo_part() { return read_file(test_data("switch/stereo_48k_192k.mp2")); }

// Each value of a one-channel PCM run, twice in a row.
std::vector<int16_t> as_two_channels(const std::vector<int16_t>& mono) {
  std::vector<int16_t> both;
  for (int16_t v : mono) {
    both.push_back(v);
    both.push_back(v);
  }
  return both;
}

std::vector<int16_t> concat(std::vector<int16_t> a, const std::vector<int16_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

void expect_two_channel_file(const Conversion& d, const std::string& stream_line) {
  const size_t data = 2 * kFramesPerPart * kFrameSamples * 4;
  ASSERT_EQ(d.result, 0);
  ASSERT_EQ(d.lines.size(), 3u);
  EXPECT_EQ(d.lines[0], stream_line);
  EXPECT_EQ(d.lines[2], "26 frames est 119808,  119808 written 119808 datasize\r\n");
  ASSERT_EQ(d.wav.size(), 44 + data);
  const WavHeaderFields h = parse_wav_header(d.wav);
  EXPECT_TRUE(h.canonical);
  EXPECT_EQ(h.channels, 2);
  EXPECT_EQ(h.sample_rate, 48000u);
  EXPECT_EQ(h.byte_rate, 192000u);
  EXPECT_EQ(h.block_align, 4);
  EXPECT_EQ(h.data_size, data);
  EXPECT_EQ(h.riff_size, data + 36);
}

TEST(ChannelSwitch, MonoFramesBeforeTheFirstStereoFrameBecomeTwoIdenticalChannels) {
  const Conversion mono = convert_bytes(mono_part());
  const Conversion stereo = convert_bytes(stereo_part());
  RecordedProgress progress;
  const Conversion both = convert_bytes(joined(mono_part(), stereo_part()), &progress.bar);
  expect_two_channel_file(both, "48000 96k mono\r\n");
  // Every part decodes exactly as it does alone: the mono part twice over.
  EXPECT_EQ(wav_samples(both.wav), concat(as_two_channels(wav_samples(mono.wav)), wav_samples(stereo.wav)));

  // The second pass over the input doesn't move the bar backwards.
  ASSERT_FALSE(progress.reports.empty());
  for (size_t i = 1; i < progress.reports.size(); ++i) {
    EXPECT_GE(progress.reports[i].done, progress.reports[i - 1].done);
  }
  EXPECT_EQ(progress.reports.back().done, mono_part().size() + stereo_part().size());
}

TEST(ChannelSwitch, MonoFramesAfterAStereoFrameAreWrittenTwice) {
  const Conversion mono = convert_bytes(mono_part());
  const Conversion stereo = convert_bytes(stereo_part());
  const Conversion both = convert_bytes(joined(stereo_part(), mono_part()));
  expect_two_channel_file(both, "48000 192k stereo\r\n");
  EXPECT_EQ(wav_samples(both.wav), concat(wav_samples(stereo.wav), as_two_channels(wav_samples(mono.wav))));
}

// A pipe a thread fills with `bytes`. The decoder stops reading where the
// stream turns stereo, so finish() reads the rest: the writer can't block on
// a full pipe, however long the stream.
class FedPipe {
 public:
  explicit FedPipe(const std::vector<uint8_t>& bytes) : bytes_(bytes) {
    if (pipe(fds_) != 0) throw std::runtime_error("pipe failed");
    writer_ = std::thread([this] {
      for (size_t done = 0; done < bytes_.size();) {
        const ssize_t n = write(fds_[1], bytes_.data() + done, bytes_.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      close(fds_[1]);
    });
  }
  ~FedPipe() { finish(); }
  int read_end() const { return fds_[0]; }
  void finish() {
    if (!writer_.joinable()) return;
    char rest[4096];
    while (read(fds_[0], rest, sizeof rest) > 0) {
    }
    writer_.join();
    close(fds_[0]);
  }

 private:
  std::vector<uint8_t> bytes_;
  int fds_[2];
  std::thread writer_;
};

// Mono frames, then stereo frames to past the pipe's 64 KiB.
std::vector<uint8_t> mono_then_stereo_past_the_pipe() {
  const std::vector<uint8_t> stereo = stereo_part();
  std::vector<uint8_t> mp2 = mono_part();
  while (mp2.size() < 100000) mp2 = joined(mp2, stereo);
  return mp2;
}

TEST(ChannelSwitch, AnInputThatCantBeReadAgainKeepsItsMonoPartAndSaysSo) {
  FedPipe input(mono_then_stereo_past_the_pipe());
  ScratchDir dir;
  CapturedLog log;
  int out = open(dir.file("out.wav").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  StreamOutcome outcome;
  const int result = decode_handles(&log.pane, out, input.read_end(), nullptr, synthesis_path_in_use(), &outcome);
  close(out);
  input.finish();

  EXPECT_EQ(result, -1);
  ASSERT_EQ(log.lines.size(), 2u) << log.all();
  EXPECT_EQ(log.lines[1],
            "ERR: stereo from frame 14 on, and the input can't be read again to make the mono part stereo\r\n");
  // What counts as read ends with the mono part, as its accounts do.
  const int64_t mono_bytes = static_cast<int64_t>(mono_part().size());
  EXPECT_EQ(outcome.bytes_read, mono_bytes);
  EXPECT_EQ(outcome.bytes.frames, mono_bytes);
  // The mono part, complete with its one-channel header.
  EXPECT_EQ(read_file(dir.file("out.wav")), convert_bytes(mono_part()).wav);
}

TEST(ChannelSwitch, AnOutputWhoseHeaderCantBeWrittenEitherGivesOnlyThatLine) {
  // A pipe nobody reads any more: the first write, the header the mono part
  // goes out behind, fails. Its signal is ignored, as the command line does.
  FedPipe input(mono_then_stereo_past_the_pipe());
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  close(output[0]);
  void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
  CapturedLog log;
  const int result = decode_handles(&log.pane, output[1], input.read_end(), nullptr);
  signal(SIGPIPE, previous);
  close(output[1]);
  input.finish();

  EXPECT_EQ(result, -1);
  ASSERT_EQ(log.lines.size(), 2u) << log.all();
  EXPECT_EQ(log.lines[1], "ERR " + std::to_string(EPIPE) + " writing output wav file\r\n");
}

}  // namespace
