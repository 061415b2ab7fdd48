// A stream listed first and decoded in chunks writes the bytes and lines of
// the one pass: chunks of 1, 2, 7 and 50 frames, decoded and written by the
// file's thread alone or with two helping threads, from the bytes the
// listing keeps or read again, over streams that switch bodies, change
// rate, turn free format, hide frames in damage or end inside one.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "tests/support/helped_chunks.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

Bytes golden(const std::string& name) { return read_file(test_data("golden/" + name)); }
Bytes switch_part(const std::string& name) { return read_file(test_data("switch/" + name)); }

Bytes slice(const Bytes& bytes, size_t from, size_t count) {
  return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(from + count));
}

struct Streams {
  const char* name;
  Bytes bytes;
};

std::vector<Streams> streams() {
  const Bytes mono = switch_part("mono_48k_96k.mp2");
  const Bytes stereo = switch_part("stereo_48k_192k.mp2");
  const Bytes music = golden("tl_48k_stereo_192k_music.mp2");
  Bytes damaged = music;
  // A run of noise inside a frame: the search passes over what is left.
  for (size_t i = 3000; i < 3400; ++i) damaged[i] = static_cast<uint8_t>(i * 7919 >> 3);
  // Frames 101 on: a body that asks for more bits than the input has left,
  // then noise before the last frame.
  Bytes past_end = slice(music, 0, 576 * 104);
  for (size_t i = 576 * 101 + 4; i < 576 * 101 + 20; ++i) past_end[i] = 0xFF;
  past_end = past_end + slice(damaged, 3000, 300) + slice(music, 576 * 104, 576);
  // The same frames as free format: a length measured only in the last chunk.
  Bytes free_format = stereo;
  for (size_t at = 0; at < free_format.size(); at += 576) free_format[at + 2] &= 0x0F;
  Bytes long_run;
  for (int i = 0; i < 12; ++i) long_run = long_run + (i == 6 ? slice(mono, 0, 288 * 4) : music);
  return {
      {"golden mono", golden("tl_32k_mono_48k_speech.mp2")},
      {"golden joint stereo with CRC", golden("tl_44k_jstereo_128k_crc_speech.mp2")},
      {"golden dual channel", golden("tl_44k_dual_64k_pad_tone.mp2")},
      {"mono, stereo, mono, stereo", mono + stereo + mono + stereo},
      {"stereo, mono and back", stereo + slice(mono, 0, 192 * 3) + stereo + slice(mono, 0, 192 * 17) + stereo},
      {"a change of rate", music + golden("tl_44k_stereo_256k_tone.mp2")},
      {"free format from frame 105 on", music + free_format},
      {"a body that runs past the end, then a gap", past_end},
      {"noise inside a frame", damaged},
      {"cut inside the last frame", slice(music, 0, music.size() - 300)},
      {"a tag and stuffing", Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 1, 0} + Bytes(128, 0) + Bytes(7, 0xFF) + music},
      // Several writes' worth, so that a write is made from the chunks' own
      // storage, across chunks, up to where a mono run breaks it.
      {"stereo a thousand frames long, mono inside", long_run},
  };
}

struct Decoded {
  int result = 0;
  std::vector<std::string> lines;
  Bytes wav;
  StreamOutcome outcome;
};

// Converts `mp2` into `wav` (by default beside it, in a scratch folder);
// *input_path: where the input is, while it is converted.
Decoded convert(const Bytes& mp2, const ChunkRunner* runner, std::string wav = "",
                std::string* input_path = nullptr, const std::atomic<bool>* stop = nullptr) {
  ScratchDir dir;
  write_file(dir.file("in.mp2"), mp2);
  if (input_path != nullptr) *input_path = dir.file("in.mp2");
  if (wav.empty()) wav = dir.file("out.wav");
  CapturedLog log;
  std::unique_ptr<PcmBatch> batch(new PcmBatch);
  DecodeRequest request;
  request.input = open(dir.file("in.mp2").c_str(), O_RDONLY);
  request.output = open(wav.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  request.log = &log.pane;
  request.batch = batch.get();
  request.runner = runner;
  request.stop = stop;
  Decoded run;
  run.result = decode_stream(request, &run.outcome);
  close(request.input);
  close(request.output);
  run.wav = read_file(wav);
  // The time taken is the one line that may differ.
  for (const std::string& line : log.lines) {
    if (line.compare(0, 17, "wav file written,") != 0) run.lines.push_back(line);
  }
  return run;
}

TEST(ChunkedStream, WritesTheBytesAndLinesOfTheOnePass) {
  for (const Streams& stream : streams()) {
    const Decoded one_pass = convert(stream.bytes, nullptr);
    for (int helpers : {0, 2}) {
      for (int chunk_frames : {1, 2, 7, 50}) {
        // Kept whole, or read again for half of the settings.
        const bool held = chunk_frames == 2 || chunk_frames == 50 ? helpers == 0 : helpers == 2;
        SCOPED_TRACE(std::string(stream.name) + ", chunks of " + std::to_string(chunk_frames) + ", " +
                     std::to_string(helpers) + " helpers" + (held ? ", input held" : ", input read again"));
        HelpedChunks chunked(helpers, chunk_frames, held);
        const Decoded run = convert(stream.bytes, chunked.runner());
        EXPECT_GT(chunked.listed_frames(), 10u);
        EXPECT_EQ(run.result, one_pass.result);
        EXPECT_EQ(run.lines, one_pass.lines);
        EXPECT_TRUE(run.wav == one_pass.wav);
        EXPECT_EQ(run.outcome.frames, one_pass.outcome.frames);
        expect_accounts_of_one_pass(run.outcome, one_pass.outcome);
        EXPECT_EQ(run.outcome.crc_error_count, one_pass.outcome.crc_error_count);
      }
    }
  }
}

// Music with a run of noise over every 20th header and 0xFF stuffing after
// every 7th frame: gaps and stuffing before and after where a conversion may
// end early.
Bytes music_with_gaps() {
  Bytes music = golden("tl_48k_stereo_192k_music.mp2");
  for (size_t at = 576 * 5 - 10; at + 40 < music.size(); at += 576 * 20) {
    for (size_t i = at; i < at + 40; ++i) music[i] = static_cast<uint8_t>(i * 7919 >> 3);
  }
  Bytes stuffed;
  for (size_t frame = 0; frame * 576 < music.size(); ++frame) {
    stuffed = stuffed + slice(music, frame * 576, std::min<size_t>(576, music.size() - frame * 576));
    if (frame % 7 == 0) stuffed = stuffed + Bytes(3, 0xFF);
  }
  return stuffed;
}

TEST(ChunkedStream, ADiskThatFillsUpEndsAsInOnePass) {
  ScratchDir mount_point;
  SmallFilesystem fs(mount_point.path(), 256 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
  // The one pass writes a mono part as mono until the stream turns stereo:
  // this one fills the disk before.
  Bytes mono_part;
  for (int i = 0; i < 50; ++i) mono_part = mono_part + switch_part("mono_48k_96k.mp2");
  const Streams cases[] = {{"gaps and stuffing", music_with_gaps()},
                           {"a long mono part, then stereo", mono_part + switch_part("stereo_48k_192k.mp2")}};
  for (const Streams& stream : cases) {
    SCOPED_TRACE(stream.name);
    const Decoded one_pass = convert(stream.bytes, nullptr, mount_point.file("one.wav"));
    ASSERT_EQ(one_pass.result, -1);
    ASSERT_EQ(one_pass.lines.back(), "ERR 28 writing output wav file\r\n");
    remove(mount_point.file("one.wav").c_str());
    HelpedChunks chunked(0, 7);
    const Decoded run = convert(stream.bytes, chunked.runner(), mount_point.file("chunked.wav"));
    remove(mount_point.file("chunked.wav").c_str());
    EXPECT_GT(chunked.listed_frames(), 10u);
    EXPECT_EQ(run.lines, one_pass.lines);
    EXPECT_TRUE(run.wav == one_pass.wav);
    EXPECT_EQ(run.outcome.channels, one_pass.outcome.channels);
    expect_accounts_of_one_pass(run.outcome, one_pass.outcome);
  }
}

// What happens while the listing goes on: a logger still recording into the
// file, or Ctrl-C.
struct WhileListing {
  const ChunkRunner* inner;
  std::function<void(int64_t)> at_frame;  // before frame n is listed
  ChunkRunner outer;
  int64_t listed = 0;
};
WhileListing* while_listing = nullptr;

bool list_and_act(void* self, const FrameEntry& entry, int32_t free_format_length, int64_t held_end) {
  while_listing->at_frame(while_listing->listed++);
  return while_listing->inner->append(self, entry, free_format_length, held_end);
}

// The runner's begin sets some of its fields.
void begin_and_follow(void* self, const ChunkSource& source) {
  while_listing->inner->begin(self, source);
  while_listing->outer = *while_listing->inner;
  while_listing->outer.begin = begin_and_follow;
  while_listing->outer.append = list_and_act;
}

Decoded convert_while_listing(const Bytes& mp2, const HelpedChunks& chunked, std::function<void(int64_t)> at_frame,
                              std::string* input_path = nullptr, const std::atomic<bool>* stop = nullptr) {
  WhileListing acting{chunked.runner(), std::move(at_frame), *chunked.runner()};
  acting.outer.begin = begin_and_follow;
  acting.outer.append = list_and_act;
  while_listing = &acting;
  Decoded run = convert(mp2, &acting.outer, "", input_path, stop);
  while_listing = nullptr;
  return run;
}

TEST(ChunkedStream, AFileThatGrowsIsConvertedAsItWas) {
  const Bytes music = golden("tl_48k_stereo_192k_music.mp2");
  const Decoded one_pass = convert(music, nullptr);
  for (const bool held : {true, false}) {
    SCOPED_TRACE(held ? "input held" : "input read again");
    HelpedChunks chunked(2, 7, held);
    std::string input_path;
    const Decoded run = convert_while_listing(
        music, chunked,
        [&](int64_t n) {
          if (n % 20 != 0) return;
          FILE* input = fopen(input_path.c_str(), "ab");
          fwrite(music.data(), 1, 576 * 20, input);
          fclose(input);
        },
        &input_path);
    EXPECT_EQ(run.lines, one_pass.lines);
    EXPECT_TRUE(run.wav == one_pass.wav);
    EXPECT_EQ(run.outcome.bytes.not_converted, 0);
  }
}

TEST(ChunkedStream, CtrlCWhileListingEndsAsInOnePass) {
  const Bytes music = Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 1, 0} + Bytes(128, 0) + music_with_gaps();
  // Asked to stop before it starts, the one pass stops after its first frame.
  std::atomic<bool> stop{true};
  const Decoded one_pass = convert(music, nullptr, "", nullptr, &stop);
  ASSERT_EQ(one_pass.outcome.frames, 1);
  stop = false;
  HelpedChunks chunked(2, 7);
  const Decoded run = convert_while_listing(music, chunked, [&](int64_t n) { stop = stop || n == 30; }, nullptr, &stop);
  EXPECT_EQ(chunked.listed_frames(), 31u);
  EXPECT_EQ(run.result, one_pass.result);
  EXPECT_EQ(run.lines, one_pass.lines);
  EXPECT_TRUE(run.wav == one_pass.wav);
  expect_accounts_of_one_pass(run.outcome, one_pass.outcome);
}

}  // namespace
