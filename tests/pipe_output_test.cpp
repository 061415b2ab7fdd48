// A WAV stream written into a real pipe: the header goes first with sizes
// that say "unknown", and sox and ffmpeg read it to its end, every sample.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "decoder/stream.h"
#include "tests/support/test_support.h"

namespace {

struct Piped {
  int result;
  int reader_status;
  CapturedLog log;
  StreamOutcome outcome;
};

// Converts `mp2` into the standard input of the shell command `reader`.
void convert_into(const std::string& mp2, const std::string& reader, Piped* out) {
  int in = open(mp2.c_str(), O_RDONLY);
  ASSERT_GE(in, 0) << mp2;
  FILE* pipe = popen(reader.c_str(), "w");
  ASSERT_NE(pipe, nullptr) << reader;
  out->result = decode_handles(&out->log.pane, fileno(pipe), in, nullptr, synthesis_path_in_use(), &out->outcome);
  out->reader_status = pclose(pipe);
  close(in);
}

struct Converted {
  std::vector<uint8_t> wav;
  CapturedLog log;
};

void convert_to_file(const std::string& mp2, Converted* out) {
  ScratchDir dir;
  ASSERT_EQ(decode_file(mp2, dir.file("out.wav"), &out->log.pane, nullptr), 0);
  out->wav = read_file(dir.file("out.wav"));
}

std::vector<uint8_t> pcm_of(const std::vector<uint8_t>& wav) { return std::vector<uint8_t>(wav.begin() + 44, wav.end()); }

const char* const kStreams[] = {"golden/ff_44k_mono_32k_tone.mp2", "golden/tl_44k_dual_64k_pad_tone.mp2",
                                "golden/tl_32k_stereo_384k_loud.mp2"};

TEST(PipeOutput, TheHeaderGoesFirstWithUnknownSizesAndThePcmIsAFilesPcm) {
  for (const char* name : kStreams) {
    SCOPED_TRACE(name);
    Converted file;
    convert_to_file(test_data(name), &file);
    ScratchDir dir;
    Piped piped;
    convert_into(test_data(name), "cat > " + dir.file("out.wav"), &piped);
    EXPECT_EQ(piped.result, 0);
    const std::vector<uint8_t> wav = read_file(dir.file("out.wav"));
    const WavHeaderFields h = parse_wav_header(wav);
    const WavHeaderFields expected = parse_wav_header(file.wav);
    EXPECT_TRUE(h.canonical);
    EXPECT_EQ(h.riff_size, 0xFFFFFFFFu);
    EXPECT_EQ(h.data_size, 0xFFFFFFFFu);
    EXPECT_EQ(h.channels, expected.channels);
    EXPECT_EQ(h.sample_rate, expected.sample_rate);
    EXPECT_EQ(h.byte_rate, expected.byte_rate);
    EXPECT_EQ(h.block_align, expected.block_align);
    EXPECT_EQ(pcm_of(wav), pcm_of(file.wav));
    // The same lines; the data size is what went down the pipe.
    ASSERT_EQ(piped.log.lines.size(), 3u) << piped.log.all();
    EXPECT_EQ(piped.log.lines[0], file.log.lines[0]);
    EXPECT_EQ(piped.log.lines[2], file.log.lines[2]);
  }
}

TEST(PipeOutput, SoxAndFfmpegReadEverySampleToTheEnd) {
  const std::string readers[] = {"sox -V1 -t wav - -t raw -e signed-integer -b 16 ",
                                 "ffmpeg -nostdin -loglevel error -f wav -i - -f s16le -y "};
  for (const char* name : kStreams) {
    Converted file;
    convert_to_file(test_data(name), &file);
    for (const std::string& reader : readers) {
      SCOPED_TRACE(std::string(name) + " into " + reader);
      ScratchDir dir;
      Piped piped;
      convert_into(test_data(name), reader + dir.file("out.raw"), &piped);
      EXPECT_EQ(piped.result, 0);
      EXPECT_EQ(piped.reader_status, 0);
      EXPECT_EQ(read_file(dir.file("out.raw")), pcm_of(file.wav));
    }
  }
}

TEST(PipeOutput, AFileThatCantTakeAHeaderAtItsStartGetsTheStreamBehindWhatItHeld) {
  // Standard output redirected with >>, or after other output: the WAV
  // stream follows what is there and nothing before it is written over.
  const char* name = kStreams[2];
  Converted file;
  convert_to_file(test_data(name), &file);
  const std::vector<uint8_t> before = {'h', 'e', 'l', 'l', 'o', '\n'};
  for (const bool append : {true, false}) {
    SCOPED_TRACE(append ? "appending" : "after other output");
    ScratchDir dir;
    write_file(dir.file("out.wav"), before);
    int out = open(dir.file("out.wav").c_str(), append ? O_WRONLY | O_APPEND : O_WRONLY);
    ASSERT_GE(out, 0);
    if (!append) {
      ASSERT_EQ(lseek(out, 0, SEEK_END), 6);
    }
    int in = open(test_data(name).c_str(), O_RDONLY);
    CapturedLog log;
    EXPECT_EQ(decode_handles(&log.pane, out, in, nullptr), 0);
    close(in);
    close(out);
    const std::vector<uint8_t> got = read_file(dir.file("out.wav"));
    ASSERT_GT(got.size(), 6u + 44u);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 6), before);
    const std::vector<uint8_t> wav(got.begin() + 6, got.end());
    EXPECT_EQ(parse_wav_header(wav).data_size, 0xFFFFFFFFu);
    EXPECT_EQ(pcm_of(wav), pcm_of(file.wav));
  }
}

std::string stream_in(const ScratchDir& dir, const std::vector<uint8_t>& mp2) {
  write_file(dir.file("in.mp2"), mp2);
  return dir.file("in.mp2");
}

TEST(PipeOutput, AStreamTurningStereoBeforeAnythingWentOutIsDecodedAgain) {
  ScratchDir dir;
  const std::string mp2 =
      stream_in(dir, joined(read_file(test_data("switch/mono_48k_96k.mp2")), read_file(test_data("switch/stereo_48k_192k.mp2"))));
  Converted file;
  convert_to_file(mp2, &file);
  Piped piped;
  convert_into(mp2, "cat > " + dir.file("out.wav"), &piped);
  EXPECT_EQ(piped.result, 0);
  const std::vector<uint8_t> wav = read_file(dir.file("out.wav"));
  EXPECT_EQ(parse_wav_header(wav).channels, 2);
  EXPECT_EQ(pcm_of(wav), pcm_of(file.wav));
}

TEST(PipeOutput, AStreamTurningStereoAfterItsMonoPartWentOutEndsThere) {
  // 39 mono frames are more than the first write takes; then stereo.
  const std::vector<uint8_t> mono = read_file(test_data("switch/mono_48k_96k.mp2"));
  const std::vector<uint8_t> mono_part = joined(joined(mono, mono), mono);
  ScratchDir dir;
  Converted mono_alone;
  convert_to_file(stream_in(dir, mono_part), &mono_alone);
  const std::string mp2 = stream_in(dir, joined(mono_part, read_file(test_data("switch/stereo_48k_192k.mp2"))));

  Piped piped;
  convert_into(mp2, "sox -V1 -t wav - -t raw -e signed-integer -b 16 " + dir.file("out.raw"), &piped);
  EXPECT_EQ(piped.result, -1);
  EXPECT_EQ(piped.reader_status, 0);
  ASSERT_EQ(piped.log.lines.size(), 2u) << piped.log.all();
  EXPECT_EQ(piped.log.lines[1], "ERR: stereo from frame 40 on, and the mono part before has gone out to a pipe already\r\n");
  // The reader got the whole mono part and nothing else, and what counts as
  // read ends with it too.
  EXPECT_EQ(read_file(dir.file("out.raw")), pcm_of(mono_alone.wav));
  EXPECT_EQ(piped.outcome.bytes_read, static_cast<int64_t>(mono_part.size()));
  EXPECT_EQ(piped.outcome.bytes.frames, static_cast<int64_t>(mono_part.size()));
}

}  // namespace
