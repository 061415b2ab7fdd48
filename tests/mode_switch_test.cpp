// Streams that switch between one channel and two and back. Each body's
// rings must hold what that body left in them while the other body decodes,
// and it resumes where v_offset has moved on to meanwhile, as with the
// standard's rings of 1024 entries. Every synthesis path is held, sample for
// sample, to the plain decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/plain_decoder.h"
#include "tests/support/random_frames.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kFrameSamples = 1152;
// The sanitizers make each conversion many times slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRandomSequences = 30;
#else
constexpr int kRandomSequences = 200;
#endif

// The stream through the real decoder on every path this machine runs,
// against the plain decoder.
void expect_plain_decoding(const RandomStream& stream) {
  const PlainDecoding plain = plain_decode(stream.bytes);
  ASSERT_EQ(plain.frames, stream.frames);
  for (SynthesisPath path : kSynthesisPaths) {
    if (!synthesis_path_available(path)) continue;
    SCOPED_TRACE(synthesis_path_name(path));
    const Conversion got = convert_bytes(stream.bytes, nullptr, path);
    ASSERT_EQ(got.result, 0) << got.statistics();
    EXPECT_EQ(got.outcome.frames, plain.frames);
    ASSERT_EQ(got.outcome.channels, plain.channels);
    const std::vector<int16_t> pcm = wav_samples(got.wav);
    const auto differ = std::mismatch(pcm.begin(), pcm.end(), plain.pcm.begin(), plain.pcm.end());
    if (differ.first == pcm.end() && differ.second == plain.pcm.end()) continue;
    const size_t at = static_cast<size_t>(differ.first - pcm.begin());
    const size_t per_frame = kFrameSamples * static_cast<size_t>(plain.channels);
    ADD_FAILURE() << "frame " << at / per_frame << ", sample " << at % per_frame / plain.channels << " of channel "
                  << at % plain.channels << ": "
                  << (differ.first == pcm.end() ? std::string("none") : std::to_string(*differ.first))
                  << " instead of "
                  << (differ.second == plain.pcm.end() ? std::string("none") : std::to_string(*differ.second))
                  << " (" << pcm.size() << " values, " << plain.pcm.size() << " expected)";
  }
}

FrameRun mono(int frames) { return FrameRun{{kSingleChannel}, frames}; }
FrameRun stereo(int frames) { return FrameRun{{kStereo}, frames}; }
FrameRun joint(int frames, bool silent_below_bound = false) {
  return FrameRun{{kJointStereo}, frames, silent_below_bound};
}
FrameRun dual(int frames) { return FrameRun{{kDualChannel}, frames}; }

TEST(ModeSwitch, ChosenSequencesDecodeAsThePlainDecoder) {
  struct Case {
    const char* name;
    std::vector<FrameRun> runs;
  };
  const Case cases[] = {
      {"stereo, mono, stereo", {stereo(10), mono(10), stereo(10)}},
      {"joint stereo and mono by turns", {joint(7), mono(9), joint(5), mono(3)}},
      {"dual channel and mono by turns", {dual(7), mono(9), dual(5), mono(3)}},
      {"mono, stereo, mono, stereo", {mono(5), stereo(5), mono(5), stereo(5)}},
      {"mono idle 1", {stereo(6), mono(1), stereo(6)}},
      {"mono idle 15", {stereo(6), mono(15), stereo(6)}},
      {"mono idle 16", {stereo(6), mono(16), stereo(6)}},
      {"mono idle 17", {stereo(6), mono(17), stereo(6)}},
      {"mono idle 40", {stereo(6), mono(40), stereo(6)}},
      {"stereo idle 1", {mono(6), stereo(1), mono(6)}},
      {"stereo idle 15", {mono(6), stereo(15), mono(6)}},
      {"stereo idle 16", {mono(6), stereo(16), mono(6)}},
      {"stereo idle 17", {mono(6), stereo(17), mono(6)}},
      {"stereo idle 40", {mono(6), stereo(40), mono(6)}},
      {"joint stereo coding nothing below the bound", {joint(6, true), mono(3), joint(6, true), mono(3)}},
  };
  uint32_t seed = 1;
  for (const Case& c : cases) {
    for (int rate_index = 0; rate_index < 3; ++rate_index, ++seed) {
      SCOPED_TRACE(testing::Message() << c.name << ", rate index " << rate_index << ", seed " << seed);
      std::mt19937 random(seed);
      expect_plain_decoding(random_stream(random, rate_index, c.runs));
    }
  }
}

TEST(ModeSwitch, RandomSequencesDecodeAsThePlainDecoder) {
  uint32_t tables = 0;
  for (uint32_t seed = 1000; seed < 1000 + kRandomSequences; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 random(seed);
    const int rate_index = static_cast<int>(random() % 3);
    const std::vector<FrameRun> runs = random_runs(random);
    const RandomStream stream = random_stream(random, rate_index, runs);
    tables |= stream.tables;
    expect_plain_decoding(stream);
    if (HasFailure()) return;
  }
  EXPECT_EQ(tables, 0xFu) << "tables 0 to 3 of ISO/IEC 11172-3 all decoded";
}

}  // namespace
