// The progress bar's arithmetic, shared by the desktop bar and the terminal bar.
#include <gtest/gtest.h>

#include "platform/progress_scale.h"
#include "shell/progress_math.h"
#include "tests/support/test_support.h"

namespace {

TEST(ProgressMath, PositionAndThresholdWithSixtyFourBitProducts) {
  ProgressBarState bar = {0, 500, 0};
  bool moved = false;
  EXPECT_EQ(apply_progress_report(bar, 8192, 1000000, &moved), 10001);
  EXPECT_EQ(bar.position, 4);
  EXPECT_TRUE(moved);
  EXPECT_EQ(bar.total, 1000000);

  // 500 x 50,000,000 doesn't fit 32 bits.
  EXPECT_EQ(apply_progress_report(bar, 50000000, 100000000, &moved), 50200001);
  EXPECT_EQ(bar.position, 250);

  // Bytes done above 2^31 count as unsigned.
  bar = {0, 500, 0};
  EXPECT_EQ(apply_progress_report(bar, 3000000000u, 2000000000, &moved), 2000000000);
  EXPECT_EQ(bar.position, 750);
}

TEST(ProgressMath, TheEndOfTheFileFillsTheBar) {
  ProgressBarState bar = {0, 500, 0};
  bool moved = false;
  EXPECT_EQ(apply_progress_report(bar, 1000000, 1000000, &moved), 1000000);
  EXPECT_EQ(bar.position, 500);
  // Beyond the total: past the width, threshold capped at the total.
  EXPECT_EQ(apply_progress_report(bar, 1200000, 1000000, &moved), 1000000);
  EXPECT_EQ(bar.position, 600);
  // The last column returns the total as threshold: without a final report
  // from the sender the bar would stay one column short.
  bar = {0, 500, 0};
  EXPECT_EQ(apply_progress_report(bar, 998000, 1000000, &moved), 1000000);
  EXPECT_EQ(bar.position, 499);
}

TEST(ProgressMath, UnchangedPositionAnswersWithoutRepaint) {
  ProgressBarState bar = {0, 500, 0};
  bool moved = false;
  apply_progress_report(bar, 8192, 1000000, &moved);
  EXPECT_EQ(apply_progress_report(bar, 8200, 1000000, &moved), 10001);
  EXPECT_FALSE(moved);
}

TEST(ProgressMath, IgnoredReportsChangeNothing) {
  ProgressBarState unsized = {0, 0, 0};
  bool moved = true;
  EXPECT_EQ(apply_progress_report(unsized, 8192, 1000000, &moved), 0);
  EXPECT_FALSE(moved);
  EXPECT_EQ(unsized.total, 0);  // the total query still answers 0

  ProgressBarState bar = {7, 500, 1234};
  EXPECT_EQ(apply_progress_report(bar, 8192, 0, &moved), 0);
  EXPECT_EQ(bar.position, 7);
  EXPECT_EQ(bar.total, 1234);
}

int32_t report_to_state(void* context, uint32_t bytes_done, int32_t total_bytes) {
  bool moved = false;
  return apply_progress_report(*static_cast<ProgressBarState*>(context), bytes_done, total_bytes, &moved);
}

TEST(ProgressMath, EveryDecodeEndsWithTheBarAtFullWidth) {
  ScratchDir dir;
  for (int width : {500, 549, 1021}) {
    ProgressBarState state = {0, width, 0};
    ProgressBarWindow bar = {report_to_state, &state};
    const std::string source = test_data("golden/tl_48k_stereo_384k_noise.mp2");
    ASSERT_EQ(decode_file(source, dir.file("out.wav"), nullptr, &bar), 0);
    EXPECT_EQ(state.position, width) << "width " << width;
    EXPECT_EQ(state.total, static_cast<int32_t>(read_file(source).size()));
  }
}

// The decoder and the desktop program's announced total both scale this way.
TEST(ProgressMath, SizesPastTwoGiBAreHalvedUntilTheyFitASignedReport) {
  EXPECT_EQ(progress_shift_for(0), 0);
  EXPECT_EQ(progress_shift_for(INT32_MAX), 0);
  EXPECT_EQ(progress_shift_for(int64_t{INT32_MAX} + 1), 1);
  EXPECT_EQ(progress_shift_for(int64_t{1} << 32), 2);
  EXPECT_EQ(progress_shift_for((int64_t{1} << 40) - 1), 9);
  const int64_t size = (int64_t{5} << 30) + 3;
  EXPECT_EQ(scaled_for_progress(size, progress_shift_for(size)), 1342177280);
}

}  // namespace
