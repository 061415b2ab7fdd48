// The synthesis filterbank: its two tables, the ring and its offset, and the
// conversion to 16 bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "decoder/synthesis.h"

namespace {

class Synthesis : public ::testing::Test {
 protected:
  std::unique_ptr<SynthesisState> ctx = std::make_unique<SynthesisState>();
  double samples[kSubbands] = {};
  int16_t pcm[32] = {};

  void SetUp() override { start_synthesis(*ctx, synthesis_path_in_use()); }
  void slot() {
    advance_v_offset(*ctx);
    synthesize_channel(*ctx, ctx->mono_ring, samples, 27, pcm);
  }
};

TEST_F(Synthesis, CosMatrixIsRoundedToNineDecimalsAsIntegerTimesOneE9) {
  const auto& n = ctx->cos_matrix;
  EXPECT_EQ(n[0][0], 0.707106781);
  EXPECT_EQ(n[32][0], -0.707106781);
  EXPECT_EQ(n[1][0], 671558955 * 1e-9);
  EXPECT_NE(n[1][0], 671558955 / 1e9);  // a division would be the nearer double
  for (int k = 0; k < kSubbands; ++k) {
    EXPECT_EQ(n[16][k], 0.0);
    EXPECT_EQ(n[48][k], -1.0);
  }
}

// |D| written to nine decimals as the standard prints k/65536: rounded to
// nearest, but cut where the tenth decimal is a final 5.
double printed_window_value(long long k) {
  const long long in_1e16 = k * 152587890625LL;  // 1/65536 = 0.0000152587890625
  long long nines = in_1e16 / 10000000;
  const long long rest = in_1e16 % 10000000;
  if (rest > 5000000) ++nines;
  char text[32];
  snprintf(text, sizeof text, "%lld.%09lld", nines / 1000000000, nines % 1000000000);
  return strtod(text, nullptr);
}

TEST(SynthesisWindow, MatchesTheStandardsAnchorsSymmetriesAndDecimals) {
  const double* d = SynthesisWindow;
  EXPECT_EQ(d[0], 0.0);
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(d[i], -0.000015259) << i;
  for (int i = 7; i <= 10; ++i) EXPECT_EQ(d[i], -0.000030518) << i;
  EXPECT_EQ(d[255], -1.144287109);
  EXPECT_EQ(d[256], 1.144989014);
  EXPECT_EQ(d[257], 1.144287109);
  EXPECT_EQ(d[196], 0.057617187);  // 0.0576171875, cut
  EXPECT_EQ(d[316], -0.057617187);
  const double every_32nd[16] = {0,           -0.000442505, 0.003250122, -0.007003784, 0.031082153, -0.078628540,
                                 0.100311279, -0.572036743, 1.144989014, 0.572036743,  0.100311279, 0.078628540,
                                 0.031082153, 0.007003784,  0.003250122, 0.000442505};
  for (int m = 0; m < 16; ++m) EXPECT_EQ(d[32 * m], every_32nd[m]) << m;
  for (int i = 1; i < 256; ++i) {
    if (i % 64 == 0) {
      EXPECT_EQ(d[512 - i], d[i]) << i;
    } else {
      EXPECT_EQ(d[512 - i], -d[i]) << i;
    }
  }
  for (int i = 0; i < kWindowLength; ++i) {
    EXPECT_LE(std::fabs(d[i]), d[256]) << i;
    const long long k = std::llround(std::fabs(d[i]) * 65536);
    EXPECT_EQ(std::fabs(d[i]), printed_window_value(k)) << i;
  }
}

TEST_F(Synthesis, WindowAtTheRingsLastBlockReadsItsSecondRunFromTheRingsStart) {
  ctx->v_offset = 0;  // the next slot writes the last 64 entries
  for (int i = 32; i < 64; ++i) ctx->mono_ring[i] = 1000.0;
  slot();
  ASSERT_EQ(ctx->v_offset, kRingLength - 64);
  // All new values are zero; only entries 32..63, as U[32..63], reach the output.
  for (int j = 0; j < 32; ++j) EXPECT_EQ(pcm[j], to_pcm16(SynthesisWindow[32 + j] * 1000.0)) << j;
}

TEST_F(Synthesis, ConstantInputSettlesAfterSixteenSlots) {
  samples[0] = 0.5;
  int16_t previous[32];
  for (int n = 1; n <= 40; ++n) {
    slot();
    if (n >= 16) {
      for (int j = 0; j < 32; ++j) {
        ASSERT_TRUE(pcm[j] == 16384 || pcm[j] == 16385) << "slot " << n << " value " << j << ": " << pcm[j];
        if (n > 16) {
          ASSERT_EQ(pcm[j], previous[j]);
        }
      }
    }
    std::copy(pcm, pcm + 32, previous);
  }
}

TEST_F(Synthesis, SixteenSilentSlotsLeaveNothingOfThePast) {
  for (int n = 0; n < 21; ++n) {
    for (int k = 0; k < kSubbands; ++k) samples[k] = std::sin(n * 7.0 + k) * 0.3;
    slot();
  }
  for (double& s : samples) s = 0.0;
  for (int n = 0; n < 16; ++n) slot();
  // The window reads the 16 newest blocks; the ring's older ones are never read again.
  for (int i = 0; i < 16 * 64; ++i) {
    const int at = (ctx->v_offset + i) & (kRingLength - 1);
    ASSERT_EQ(ctx->mono_ring[at], 0.0) << at;
  }
  for (int j = 0; j < 32; ++j) EXPECT_EQ(pcm[j], 0);
}

TEST(ToPcm16, HalvesRoundTowardPlusInfinityAndTheRangeIsClipped) {
  EXPECT_EQ(to_pcm16(2.5 / 32768), 3);
  EXPECT_EQ(to_pcm16(-0.5 / 32768), 0);
  EXPECT_EQ(to_pcm16(-2.5 / 32768), -2);
  EXPECT_EQ(to_pcm16(0.49 / 32768), 0);
  EXPECT_EQ(to_pcm16(1.0), 32767);
  EXPECT_EQ(to_pcm16(-1.0), -32768);
  EXPECT_EQ(to_pcm16(32767.5 / 32768), 32767);
  EXPECT_EQ(to_pcm16(-32768.5 / 32768), -32768);
  EXPECT_EQ(to_pcm16(-32769.0 / 32768), -32768);
  EXPECT_EQ(to_pcm16(1.0e6), 32767);
  EXPECT_EQ(to_pcm16(-1.0e6), -32768);
}

}  // namespace
