// Every way of computing the synthesis writes the same bytes as the plain
// sums: whole streams through the decoder, and single slots down to the ring
// entries, including a matrix that lacks the symmetries the fast paths use.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "decoder/synthesis.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

const SynthesisPath kFastPaths[] = {SynthesisPath::Scalar, SynthesisPath::Sse2, SynthesisPath::Avx2};

const char* path_name(SynthesisPath path) {
  switch (path) {
    case SynthesisPath::Direct:
      return "Direct";
    case SynthesisPath::Scalar:
      return "Scalar";
    case SynthesisPath::Sse2:
      return "Sse2";
    case SynthesisPath::Avx2:
      return "Avx2";
  }
  return "?";
}

// Puts the process-wide choice back when a test ends, however it ends.
struct PathRestorer {
  SynthesisPath saved = synthesis_path_in_use();
  ~PathRestorer() { use_synthesis_path(saved); }
};

Bytes convert_with(SynthesisPath path, const std::string& source, const ScratchDir& dir) {
  use_synthesis_path(path);
  EXPECT_EQ(synthesis_path_in_use(), path);
  const std::string wav = dir.file(std::string("out_") + path_name(path) + ".wav");
  decode_file(source, wav, nullptr, nullptr);
  return read_file(wav);
}

void expect_same_bytes_on_every_path(const std::string& source, const ScratchDir& dir) {
  const Bytes expected = convert_with(SynthesisPath::Direct, source, dir);
  ASSERT_GT(expected.size(), 44u);
  for (SynthesisPath path : kFastPaths) {
    if (!synthesis_path_available(path)) continue;
    const Bytes got = convert_with(path, source, dir);
    ASSERT_EQ(got.size(), expected.size()) << path_name(path);
    EXPECT_TRUE(got == expected) << path_name(path) << " differs from the plain sums";
  }
}

// Frames whose bodies are random bytes: random allocations, scale factors
// (loud ones included, so clipping happens) and codes, in every mode.
Bytes random_frames(uint8_t rate, const std::vector<int>& modes, int frames, int body_bytes, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes stream;
  for (int f = 0; f < frames; ++f) {
    const int mode = modes[static_cast<size_t>(f) % modes.size()];
    Bytes frame = silent_frame(rate, mode, body_bytes);
    frame[3] = static_cast<uint8_t>(mode << 6 | (random() & 0x30));  // mode extension
    for (size_t i = 4; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(random());
    stream = stream + frame;
  }
  return stream;
}

TEST(SynthesisPaths, GoldenStreamsComeOutTheSameOnEveryPath) {
  PathRestorer restore;
  ScratchDir dir;
  for (const char* name : {"ff_44k_mono_32k_tone", "ff_48k_stereo_192k_music", "tl_32k_mono_48k_speech",
                           "tl_32k_stereo_384k_loud", "tl_44k_dual_64k_pad_tone", "tl_44k_jstereo_128k_crc_speech",
                           "tl_44k_stereo_256k_tone", "tl_48k_jstereo_64k_music", "tl_48k_mono_56k_silence",
                           "tl_48k_stereo_192k_energy_sweep", "tl_48k_stereo_192k_music",
                           "tl_48k_stereo_384k_noise"}) {
    SCOPED_TRACE(name);
    expect_same_bytes_on_every_path(test_data(std::string("golden/") + name + ".mp2"), dir);
  }
}

TEST(SynthesisPaths, RandomFramesOfEveryTableAndModeComeOutTheSame) {
  PathRestorer restore;
  ScratchDir dir;
  struct Case {
    const char* what;
    uint8_t rate;
    std::vector<int> modes;
    int body_bytes;
  };
  const Case cases[] = {
      {"27 subbands, stereo and joint stereo", rate_byte(10, 1), {0, 1}, 572},
      {"30 subbands, dual channel then mono", rate_byte(12, 0), {2, 3, 3}, 832},
      {"8 subbands, joint stereo", rate_byte(4, 1), {1}, 188},
      {"12 subbands, mono then stereo", rate_byte(2, 2), {3, 0}, 212},
  };
  uint32_t seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string source = dir.file("random.mp2");
    write_file(source, random_frames(c.rate, c.modes, 120, c.body_bytes, seed++));
    expect_same_bytes_on_every_path(source, dir);
  }
}

struct SlotResult {
  double ring[kRingLength];
  int16_t pcm[32];
};

// Runs `slots` slots of random samples through one path, from a zeroed ring.
std::vector<SlotResult> run_slots(SynthesisPath path, DecoderContext& ctx, int slots, double scale, uint32_t seed) {
  use_synthesis_path(path);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> sample(-scale, scale);
  reset_synthesis(ctx);
  std::vector<SlotResult> results(static_cast<size_t>(slots));
  for (size_t n = 0; n < results.size(); ++n) {
    SlotResult& result = results[n];
    double samples[kSubbands];
    for (double& s : samples) s = sample(random);
    // A silent subband, as in real frames; silent subbands at the top, which
    // the fast paths leave out; now and then a silent slot, whose sums are
    // zeros that must keep their sign.
    samples[random() % kSubbands] = 0.0;
    if (n % 3 == 1) {
      for (size_t k = random() % kSubbands; k < kSubbands; ++k) samples[k] = 0.0;
    }
    if (n % 5 == 4) memset(samples, 0, sizeof samples);
    advance_v_offset(ctx);
    synthesize_channel(ctx, ctx.mono_ring, samples, result.pcm);
    memcpy(result.ring, ctx.mono_ring, sizeof result.ring);
  }
  return results;
}

void expect_slots_match_direct(DecoderContext& ctx) {
  for (int sblimit : {8, 12, 27, 30}) {
    ctx.sblimit = sblimit;
    // A scale of 1 stays mostly in range; 40 clips most values.
    for (double scale : {1.0, 40.0}) {
      const auto expected = run_slots(SynthesisPath::Direct, ctx, 40, scale, 7);
      for (SynthesisPath path : kFastPaths) {
        if (!synthesis_path_available(path)) continue;
        const auto got = run_slots(path, ctx, 40, scale, 7);
        for (size_t n = 0; n < got.size(); ++n) {
          // Bits, not values: a zero of the wrong sign would show here.
          ASSERT_EQ(memcmp(got[n].ring, expected[n].ring, sizeof got[n].ring), 0)
              << path_name(path) << " ring after slot " << n << ", sblimit " << sblimit;
          ASSERT_EQ(memcmp(got[n].pcm, expected[n].pcm, sizeof got[n].pcm), 0)
              << path_name(path) << " PCM of slot " << n << ", sblimit " << sblimit;
        }
      }
    }
  }
}

TEST(SynthesisPaths, SlotsMatchThePlainSumsDownToTheRingBits) {
  PathRestorer restore;
  static DecoderContext ctx;
  build_cos_matrix(ctx);
  // The computed matrix has its symmetries, so the fast paths use them.
  EXPECT_EQ(ctx.computed_rows, 32);
  expect_slots_match_direct(ctx);
}

TEST(SynthesisPaths, AMatrixWithoutTheSymmetriesIsComputedInFull) {
  PathRestorer restore;
  static DecoderContext ctx;
  build_cos_matrix(ctx);
  // One coefficient off by a step of the ninth decimal breaks N[48+j] = N[48-j].
  ctx.cos_matrix[50][5] += 1e-9;
  lay_out_cos_matrix(ctx);
  EXPECT_EQ(ctx.computed_rows, 64);
  expect_slots_match_direct(ctx);

  build_cos_matrix(ctx);
  ctx.cos_matrix[20][3] = -ctx.cos_matrix[20][3];  // breaks N[32-i] = -N[i]
  lay_out_cos_matrix(ctx);
  EXPECT_EQ(ctx.computed_rows, 64);
  expect_slots_match_direct(ctx);
}

}  // namespace
