// Every synthesis path writes the same bytes as the plain sums: single slots
// of one and of two channels down to the bits of the rings, a matrix without
// the symmetries the kernels use, zeros of either sign in the window, the
// dequantization the kernels also carry, and whole streams through the real
// program with each path forced.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "decoder/synthesis.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

// The standard's sums as written, the yardstick of every path: row by row,
// then output by output, each sum from 0.0 in ascending order.
void plain_sums(const SynthesisState& ctx, double* ring, const double* samples, int sblimit, int16_t* pcm) {
  const int v = ctx.v_offset;
  for (int i = 0; i < kMatrixRows; ++i) {
    double sum = 0.0;
    for (int k = 0; k < sblimit; ++k) sum += ctx.cos_matrix[i][k] * samples[k];
    ring[v + i] = sum;
  }
  double w[kWindowLength];
  const double* d = SynthesisWindow;
  for (int r = 0; r < 8; ++r) {
    for (int n = 0; n < 32; ++n) {
      w[64 * r + n] = d[64 * r + n] * ring[(v + 128 * r + n) & (kRingLength - 1)];
      w[64 * r + 32 + n] = d[64 * r + 32 + n] * ring[(v + 128 * r + 96 + n) & (kRingLength - 1)];
    }
  }
  for (int j = 0; j < 32; ++j) {
    double sum = 0.0;
    for (int i = 0; i < 16; ++i) sum += w[j + 32 * i];
    pcm[j] = to_pcm16(sum);
  }
}

// Subband k of channel c at [k][c][slot], as the decoder lays out a granule.
constexpr int kStride = kMaxChannels * kSlotsPerGranule;
using GranuleLayout = double[kSubbands][kMaxChannels][kSlotsPerGranule];

class SynthesisPaths : public ::testing::TestWithParam<SynthesisPath> {
 protected:
  void SetUp() override {
    if (!synthesis_path_available(GetParam())) {
      GTEST_SKIP() << synthesis_path_name(GetParam()) << " is not built in or not run by this processor";
    }
    build_cos_matrix(*kernel_ctx);
    build_cos_matrix(*plain_ctx);
  }
  const SynthesisKernel& kernel() const { return synthesis_kernel(GetParam()); }

  // The two decoders under comparison: one runs the path, one the plain sums.
  std::unique_ptr<SynthesisState> kernel_ctx = std::make_unique<SynthesisState>();
  std::unique_ptr<SynthesisState> plain_ctx = std::make_unique<SynthesisState>();
};

// Random samples for one slot: a silent subband as in real frames, now and
// then silent subbands at the top (which the kernels leave out) or a silent
// slot, whose sums are zeros that must keep their sign. Returns the count of
// subbands up to the last that sounds.
int random_slot(std::mt19937& random, double scale, int sblimit, int n, double* samples) {
  std::uniform_real_distribution<double> sample(-scale, scale);
  for (int k = 0; k < kSubbands; ++k) samples[k] = k < sblimit ? sample(random) : 0.0;
  samples[random() % sblimit] = 0.0;
  if (n % 3 == 1) {
    for (int k = static_cast<int>(random() % sblimit); k < kSubbands; ++k) samples[k] = 0.0;
  }
  if (n % 5 == 4) memset(samples, 0, kSubbands * sizeof(double));
  int subbands = sblimit;
  while (subbands > 0 && samples[subbands - 1] == 0.0) --subbands;
  return subbands;
}

// Runs 42 slots of one channel (twice or not) through the path, a slot per
// call or a granule's three at once, and through the plain sums, comparing
// the ring bits and the PCM after every call.
void expect_mono_slots_match(const SynthesisKernel& kernel, SynthesisState& ctx, SynthesisState& plain, bool twice,
                             int slots_per_call) {
  for (int sblimit : {8, 12, 27, 30}) {
    // A scale of 1 stays mostly in range; 40 clips most values.
    for (double scale : {1.0, 40.0}) {
      reset_synthesis(ctx);
      reset_synthesis(plain);
      std::mt19937 random(7);
      static GranuleLayout granule;
      int16_t expected[kSlotsPerGranule][32];
      int call_subbands = 0;
      for (int n = 0; n < 42; ++n) {
        SCOPED_TRACE("sblimit " + std::to_string(sblimit) + ", scale " + std::to_string(scale) + ", slot " +
                     std::to_string(n));
        double samples[kSubbands];
        const int subbands = random_slot(random, scale, sblimit, n, samples);
        const int slot = n % slots_per_call;
        for (int k = 0; k < kSubbands; ++k) granule[k][0][slot] = samples[k];
        call_subbands = slot == 0 ? subbands : std::max(call_subbands, subbands);
        advance_v_offset(plain);
        plain_sums(plain, plain.mono_ring, samples, sblimit, expected[slot]);
        if (slot != slots_per_call - 1) continue;
        advance_v_offset(ctx);
        int16_t got[kSlotsPerGranule * 64];
        kernel.mono(ctx, ctx.mono_ring, &granule[0][0][0], kStride, call_subbands, twice, slots_per_call, got);
        for (int s = 1; s < slots_per_call; ++s) advance_v_offset(ctx);
        // Bits, not values: a zero of the wrong sign would show here.
        ASSERT_EQ(memcmp(ctx.mono_ring, plain.mono_ring, sizeof ctx.mono_ring), 0);
        for (int s = 0; s < slots_per_call; ++s) {
          for (int j = 0; j < 32; ++j) {
            if (twice) {
              ASSERT_EQ(got[64 * s + 2 * j], expected[s][j]) << s << " " << j;
              ASSERT_EQ(got[64 * s + 2 * j + 1], expected[s][j]) << s << " " << j;
            } else {
              ASSERT_EQ(got[32 * s + j], expected[s][j]) << s << " " << j;
            }
          }
        }
      }
    }
  }
}

// The same for two channels in one pass: the right channel has its own
// samples (fewer subbands now and then), ring and place in the PCM.
void expect_stereo_slots_match(const SynthesisKernel& kernel, SynthesisState& ctx, SynthesisState& plain,
                               int slots_per_call) {
  for (int sblimit : {8, 12, 27, 30}) {
    for (double scale : {1.0, 40.0}) {
      reset_synthesis(ctx);
      reset_synthesis(plain);
      std::mt19937 random(11);
      static GranuleLayout granule;
      int16_t expected_left[kSlotsPerGranule][32];
      int16_t expected_right[kSlotsPerGranule][32];
      int call_subbands = 0;
      for (int n = 0; n < 42; ++n) {
        SCOPED_TRACE("sblimit " + std::to_string(sblimit) + ", scale " + std::to_string(scale) + ", slot " +
                     std::to_string(n));
        double left[kSubbands];
        double right[kSubbands];
        const int left_subbands = random_slot(random, scale, sblimit, n, left);
        const int right_subbands = random_slot(random, scale, sblimit, n / 2 + 1, right);
        const int slot = n % slots_per_call;
        for (int k = 0; k < kSubbands; ++k) {
          granule[k][0][slot] = left[k];
          granule[k][1][slot] = right[k];
        }
        const int subbands = std::max(left_subbands, right_subbands);
        call_subbands = slot == 0 ? subbands : std::max(call_subbands, subbands);
        advance_v_offset(plain);
        plain_sums(plain, plain.channel_rings[0], left, sblimit, expected_left[slot]);
        plain_sums(plain, plain.channel_rings[1], right, sblimit, expected_right[slot]);
        if (slot != slots_per_call - 1) continue;
        advance_v_offset(ctx);
        int16_t got[kSlotsPerGranule * 64];
        kernel.stereo(ctx, ctx.channel_rings[0], ctx.channel_rings[1], &granule[0][0][0], &granule[0][1][0], kStride,
                      call_subbands, slots_per_call, got);
        for (int s = 1; s < slots_per_call; ++s) advance_v_offset(ctx);
        ASSERT_EQ(memcmp(ctx.channel_rings, plain.channel_rings, sizeof ctx.channel_rings), 0);
        for (int s = 0; s < slots_per_call; ++s) {
          for (int j = 0; j < 32; ++j) {
            ASSERT_EQ(got[64 * s + 2 * j], expected_left[s][j]) << "slot " << s << ", left " << j;
            ASSERT_EQ(got[64 * s + 2 * j + 1], expected_right[s][j]) << "slot " << s << ", right " << j;
          }
        }
      }
    }
  }
}

TEST_P(SynthesisPaths, SlotsMatchThePlainSumsDownToTheRingBits) {
  // The computed matrix has its symmetries, so the kernels use them.
  ASSERT_EQ(kernel_ctx->computed_rows, 32);
  // A slot per call, two (windowed one by one), and a granule's three at once.
  for (int slots : {1, 2, kSlotsPerGranule}) {
    SCOPED_TRACE(std::to_string(slots) + " slots per call");
    {
      SCOPED_TRACE("one channel");
      expect_mono_slots_match(kernel(), *kernel_ctx, *plain_ctx, false, slots);
    }
    {
      SCOPED_TRACE("one channel written twice");
      expect_mono_slots_match(kernel(), *kernel_ctx, *plain_ctx, true, slots);
    }
    {
      SCOPED_TRACE("two channels");
      expect_stereo_slots_match(kernel(), *kernel_ctx, *plain_ctx, slots);
    }
  }
}

TEST_P(SynthesisPaths, AMatrixWithoutTheSymmetriesIsComputedInFull) {
  struct Break {
    const char* what;
    int row, column;
    double by;
  };
  // One coefficient off by a step of the ninth decimal breaks N[48+j] = N[48-j];
  // a sign flipped breaks N[32-i] = -N[i].
  for (const Break& b : {Break{"N[48+j] = N[48-j]", 50, 5, 1e-9}, Break{"N[32-i] = -N[i]", 20, 3, 0.0}}) {
    SCOPED_TRACE(b.what);
    for (SynthesisState* c : {kernel_ctx.get(), plain_ctx.get()}) {
      build_cos_matrix(*c);
      double& n = c->cos_matrix[b.row][b.column];
      n = b.by == 0.0 ? -n : n + b.by;
      lay_out_cos_matrix(*c);
    }
    ASSERT_EQ(kernel_ctx->computed_rows, 64);
    for (int slots : {1, kSlotsPerGranule}) {
      expect_mono_slots_match(kernel(), *kernel_ctx, *plain_ctx, false, slots);
      expect_stereo_slots_match(kernel(), *kernel_ctx, *plain_ctx, slots);
    }
  }
}

// The kernels start each window sum from its first product, the plain sums
// from 0.0: the two differ when that product is -0.0, in the sign of zero
// partial sums only. Rings full of zeros of both signs and of values so small
// that their products round to zero, and a few that don't, drive exactly that
// case; the PCM must not differ.
TEST_P(SynthesisPaths, ZeroSignsInTheWindowSumsNeverReachThePcm) {
  const double values[] = {0.0, -0.0, 1e-320, -1e-320, 4e-300, -4e-300};
  std::mt19937 random(3);
  int negative_zero_first_products = 0;
  for (int round = 0; round < 200; ++round) {
    // Mostly zero-product values; every fourth round a few audible ones.
    for (int i = 0; i < kRingLength; ++i) {
      double x = values[random() % 4];
      if (round % 4 == 3 && random() % 64 == 0) x = values[4 + random() % 2];
      for (int ch = 0; ch < 2; ++ch) {
        kernel_ctx->channel_rings[ch][i] = plain_ctx->channel_rings[ch][i] = x;
        kernel_ctx->mono_ring[i] = plain_ctx->mono_ring[i] = -x;
      }
    }
    kernel_ctx->v_offset = plain_ctx->v_offset = 64 * (round % 16);
    // Silent samples: the new block is +0.0, and its products with the
    // window's negative coefficients are -0.0, the first of many sums.
    static GranuleLayout silence;
    double zeros[kSubbands] = {};
    int16_t got[64];
    int16_t expected[3][32];
    kernel().stereo(*kernel_ctx, kernel_ctx->channel_rings[0], kernel_ctx->channel_rings[1], &silence[0][0][0],
                    &silence[0][1][0], kStride, 0, 1, got);
    plain_sums(*plain_ctx, plain_ctx->channel_rings[0], zeros, 27, expected[0]);
    plain_sums(*plain_ctx, plain_ctx->channel_rings[1], zeros, 27, expected[1]);
    for (int j = 0; j < 32; ++j) {
      ASSERT_EQ(got[2 * j], expected[0][j]) << "round " << round << ", left " << j;
      ASSERT_EQ(got[2 * j + 1], expected[1][j]) << "round " << round << ", right " << j;
      negative_zero_first_products += std::signbit(SynthesisWindow[j] * 0.0) ? 1 : 0;
    }
    kernel().mono(*kernel_ctx, kernel_ctx->mono_ring, &silence[0][0][0], kStride, 0, false, 1, got);
    plain_sums(*plain_ctx, plain_ctx->mono_ring, zeros, 27, expected[2]);
    ASSERT_EQ(memcmp(got, expected[2], sizeof expected[2]), 0) << "round " << round << ", one channel";
  }
  // The case is really there: 31 of the 32 first coefficients are negative.
  EXPECT_EQ(negative_zero_first_products, 200 * 31);
}

// Dequantization over the lanes: every class's extreme and random codes with
// every scale factor, at counts that leave a partial vector at the end, bit
// for bit the steps one value at a time, for one granule and for four that
// share the steps. Nothing past the count is written.
TEST_P(SynthesisPaths, DequantizationMatchesTheStepsValueByValue) {
  constexpr int kValues = 192;
  constexpr int kStride = kValues + 8;  // granules apart, with room to see stray writes
  constexpr int kGranules = 4;
  std::mt19937 random(5);
  alignas(64) uint32_t codes[kGranules * kStride];
  alignas(64) double r[kValues], d[kValues], c[kValues], scale[kValues];
  for (int granules : {1, kGranules}) {
    for (int count : {192, 191, 186, 7, 1, 0}) {
      SCOPED_TRACE(testing::Message() << granules << " granules, count " << count);
      for (int i = 0; i < kValues; ++i) {
        const QuantClass& quant = quant_classes[random() % kQuantClassCount];
        uint32_t power = 1;
        while (power < quant.levels) power <<= 1;
        for (int g = 0; g < kGranules; ++g) {
          const uint32_t pick = random() % 4;
          codes[g * kStride + i] =
              pick == 0 ? 0 : pick == 1 ? 2 * power - 1 : static_cast<uint32_t>(random() % (2 * power));
        }
        r[i] = 2.0 / power;
        d[i] = quant.d;
        c[i] = quant.c;
        scale[i] = ScaleFactorTable[random() % 64];
      }
      alignas(64) double got[kGranules * kStride];
      for (double& v : got) v = 42.0;
      kernel().dequantize(codes, granules, kStride, r, d, c, scale, count, got);
      for (int g = 0; g < kGranules; ++g) {
        for (int i = 0; i < kStride; ++i) {
          const double value = got[g * kStride + i];
          if (g >= granules || i >= count) {
            ASSERT_EQ(value, 42.0) << "granule " << g << ", past the end " << i;
            continue;
          }
          double expected = static_cast<double>(codes[g * kStride + i]) * r[i];
          expected = expected - 1.0;
          expected = expected + d[i];
          expected = expected * c[i];
          expected = expected * scale[i];
          ASSERT_EQ(memcmp(&value, &expected, sizeof expected), 0) << "granule " << g << ", value " << i;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, SynthesisPaths, ::testing::ValuesIn(kSynthesisPaths),
                         [](const ::testing::TestParamInfo<SynthesisPath>& info) {
                           return std::string(synthesis_path_name(info.param));
                         });

// The output of a command, and whether it exited with 0.
bool run(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, got);
  return pclose(pipe) == 0;
}

std::string forced(SynthesisPath path) { return std::string("SONDRIK_SYNTHESIS_PATH=") + synthesis_path_name(path); }

// The real program with the test switch: the path it starts on, and the WAV
// file it writes.
Bytes convert_on(SynthesisPath path, const std::string& source, const ScratchDir& dir) {
  std::string report;
  EXPECT_TRUE(run(forced(path) + " '" SONDRIK_PATH_REPORT "'", &report));
  EXPECT_EQ(report, std::string(synthesis_path_name(path)) + "\n") << "the test switch wasn't obeyed";
  const std::string copy = dir.file(std::string("in_") + synthesis_path_name(path) + ".mp2");
  write_file(copy, read_file(source));
  std::string log;
  EXPECT_TRUE(run(forced(path) + " '" SONDRIK_BINARY "' --force '" + copy + "'", &log)) << log;
  return read_file(copy.substr(0, copy.size() - 4) + ".wav");
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

TEST(SynthesisPathsInTheProgram, EveryPathWritesTheSameStreams) {
  ScratchDir dir;
  std::vector<std::string> sources;
  for (const char* name : {"ff_44k_mono_32k_tone", "tl_44k_dual_64k_pad_tone", "tl_44k_jstereo_128k_crc_speech",
                           "tl_48k_jstereo_64k_music", "tl_32k_stereo_384k_loud"}) {
    sources.push_back(test_data(std::string("golden/") + name + ".mp2"));
  }
  struct Random {
    uint8_t rate;
    std::vector<int> modes;
    int body_bytes;
  };
  const Random cases[] = {
      {rate_byte(10, 1), {0, 1}, 572},   // 27 subbands, stereo and joint stereo
      {rate_byte(12, 0), {2, 3, 3}, 832},  // 30 subbands, dual channel then mono
      {rate_byte(4, 1), {1}, 188},       // 8 subbands, joint stereo
      {rate_byte(2, 2), {3, 0}, 212},    // 12 subbands, mono then stereo
  };
  uint32_t seed = 1;
  for (const Random& c : cases) {
    sources.push_back(dir.file("random" + std::to_string(seed) + ".mp2"));
    write_file(sources.back(), random_frames(c.rate, c.modes, 120, c.body_bytes, seed++));
  }
  int paths_run = 0;
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const Bytes expected = convert_on(SynthesisPath::Scalar, source, dir);
    ASSERT_GT(expected.size(), 44u);
    for (SynthesisPath path : kSynthesisPaths) {
      if (path == SynthesisPath::Scalar || !synthesis_path_available(path)) continue;
      ++paths_run;
      EXPECT_TRUE(convert_on(path, source, dir) == expected) << synthesis_path_name(path) << " differs from scalar";
    }
  }
  // The golden test holds the default path to the recorded hashes; this one
  // means something only where there is more than one path.
  if (paths_run == 0) GTEST_SKIP() << "this processor runs the scalar path only";
}

TEST(SynthesisPathsInTheProgram, StartsOnTheFastestPathThisProcessorRuns) {
  if (getenv("SONDRIK_SYNTHESIS_PATH") != nullptr) GTEST_SKIP() << "the test switch is set";
  SynthesisPath fastest = SynthesisPath::Scalar;
  for (SynthesisPath path : {SynthesisPath::Sse2, SynthesisPath::Neon, SynthesisPath::Avx2, SynthesisPath::Avx512}) {
    if (synthesis_path_available(path)) fastest = path;
  }
  EXPECT_STREQ(synthesis_path_name(synthesis_path_in_use()), synthesis_path_name(fastest));
  std::string report;
  EXPECT_TRUE(run("SONDRIK_SYNTHESIS_PATH=none '" SONDRIK_PATH_REPORT "'", &report));
  EXPECT_EQ(report, std::string(synthesis_path_name(fastest)) + "\n") << "an unknown name must change nothing";
}

}  // namespace
