// What each frame puts into the WAV file: one channel or two, and nothing for
// a frame the input cuts short.
#include <gtest/gtest.h>

#include "tests/support/bit_writer.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kBitrate64 = 4;
constexpr int kBitrate192 = 10;
constexpr int kRate48000 = 1;

// Whole 48 kHz frames (192 and 576 bytes) whose subband 0 carries a 3-level code word (scale factor
// 1.0) in every granule, two different words in a two-channel frame.
void put_mono_frame(BitWriter& out, uint32_t word) {
  const size_t start = out.bit_count();
  put_frame_header(out, kBitrate64, kRate48000, kSingleChannel);
  out.put(1, 4).zeros(88 - 4).put(2, 2).put(3, 6);
  for (int granule = 0; granule < 12; ++granule) out.put(word, 5);
  out.fill_to(start, 192);
}

void put_stereo_frame(BitWriter& out, uint32_t left_word, uint32_t right_word) {
  const size_t start = out.bit_count();
  put_frame_header(out, kBitrate192, kRate48000, kStereo);
  out.put(1, 4).put(1, 4).zeros(176 - 8).put(2, 2).put(2, 2).put(3, 6).put(3, 6);
  for (int granule = 0; granule < 12; ++granule) out.put(left_word, 5).put(right_word, 5);
  out.fill_to(start, 576);
}

TEST(FrameOutput, MonoStreamWritesEachValueOnce) {
  BitWriter stream;
  for (int n = 0; n < 3; ++n) put_mono_frame(stream, 26);
  const Conversion out = convert_bytes(stream.bytes());
  EXPECT_EQ(parse_wav_header(out.wav).channels, 1);
  EXPECT_EQ(wav_samples(out.wav).size(), 3u * 1152);
  ASSERT_EQ(out.lines.size(), 3u);
  EXPECT_EQ(out.lines[2], "3 frames est 6912,  6912 written 6912 datasize\r\n");
}

TEST(FrameOutput, MonoFramesAfterATwoChannelFrameAreWrittenTwiceFromTheirOwnHistory) {
  BitWriter mixed;
  put_stereo_frame(mixed, 26, 31);
  put_mono_frame(mixed, 26);
  put_mono_frame(mixed, 13);
  BitWriter mono_only;
  put_mono_frame(mono_only, 26);
  put_mono_frame(mono_only, 13);

  const Conversion out = convert_bytes(mixed.bytes());
  const std::vector<int16_t> pcm = wav_samples(out.wav);
  const std::vector<int16_t> alone = wav_samples(convert_bytes(mono_only.bytes()).wav);
  EXPECT_EQ(parse_wav_header(out.wav).channels, 2);
  ASSERT_EQ(pcm.size(), 3u * 2304);  // 4608 bytes a frame, mono ones too
  ASSERT_EQ(out.lines.size(), 3u);
  EXPECT_EQ(out.lines[2], "3 frames est 13824,  13824 written 13824 datasize\r\n");
  ASSERT_EQ(alone.size(), 2u * 1152);
  // The mono frames start from an empty mono history, whatever the two-channel
  // frame left in its own: they decode as they would at the stream's start.
  bool any_sound = false;
  for (size_t i = 0; i < 2 * 1152; ++i) {
    const int16_t left = pcm[2304 + 2 * i];
    const int16_t right = pcm[2304 + 2 * i + 1];
    ASSERT_EQ(left, right) << i;
    ASSERT_EQ(left, alone[i]) << i;
    any_sound |= left != 0;
  }
  EXPECT_TRUE(any_sound);
}

struct CutCase {
  const char* name;
  size_t frame_bytes;
  size_t whole_frames;
  size_t cut_into_next;  // bytes of the next frame left in
  int channels;
};

TEST(FrameOutput, AFrameCutShortByTheEndOfTheInputIsNotWritten) {
  const CutCase cases[] = {
      {"tl_48k_stereo_192k_music", 576, 10, 300, 2},
      {"tl_48k_stereo_192k_music", 576, 10, 3, 2},  // inside the header
      {"tl_48k_stereo_192k_music", 576, 10, 0, 2},  // at a frame's end
      {"tl_32k_stereo_384k_loud", 1728, 40, 1500, 2},
      {"tl_32k_mono_48k_speech", 216, 50, 100, 1},
  };
  for (const CutCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " cut " << c.cut_into_next << " bytes into frame " << c.whole_frames);
    const std::vector<uint8_t> whole = read_file(test_data(std::string("golden/") + c.name + ".mp2"));
    const size_t cut = c.whole_frames * c.frame_bytes + c.cut_into_next;
    const std::vector<int16_t> full = wav_samples(convert_bytes(whole).wav);
    const Conversion shortened = convert_bytes(std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
    const std::vector<int16_t> kept = wav_samples(shortened.wav);

    const size_t bytes = c.whole_frames * c.channels * 2304;
    ASSERT_EQ(shortened.lines.size(), 3u);
    EXPECT_EQ(shortened.statistics(), statistics_line(static_cast<int64_t>(c.whole_frames), c.channels));
    EXPECT_EQ(shortened.wav.size(), 44 + bytes);
    ASSERT_EQ(kept.size(), bytes / 2);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), full.begin()));
  }
}

}  // namespace
