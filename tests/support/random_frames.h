// Valid MPEG-1 Layer II frames with random contents, in runs of one body
// (one channel or two) after another.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "tests/support/bit_writer.h"

// Frames of one body, each of one of `modes` at random.
struct FrameRun {
  std::vector<FrameMode> modes;
  int frames;
  bool silent_below_bound = false;  // joint stereo: every frame codes nothing below its bound
};

struct RandomStream {
  std::vector<uint8_t> bytes;
  int frames = 0;
  uint32_t tables = 0;  // bit t set when a frame decodes with table t
};

// The runs' frames at one sampling frequency (header index 0 to 2), each
// with a random bit rate, padding, CRC word, mode extension, allocations
// (silent subbands and silent frames among them), selections, scale factors
// and codes, and random ancillary bytes up to its length.
RandomStream random_stream(std::mt19937& random, int rate_index, const std::vector<FrameRun>& runs);

// One to six runs, one channel and two by turns, 1 to 40 frames each; the
// two-channel runs mix stereo, joint stereo and dual channel.
std::vector<FrameRun> random_runs(std::mt19937& random);
