// Two conversions in one process, on two threads that take turns read by
// read (a frame or so each): each WAV file is the one it gets alone.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "decoder/stream.h"
#include "tests/support/memory_files.h"
#include "tests/support/test_support.h"
#include "tests/support/turns.h"

namespace {

struct Side {
  Side(Turns* turns, int index) : turns(turns), index(index) {}
  Turns* turns;
  int index;
  std::vector<uint8_t> mp2;
  MemoryInput input;
  MemoryOutput output;
  CapturedLog log;
  StreamOutcome outcome;
  int result = -1;
  int reads = 0;

  static void after_read(void* context) {
    Side& side = *static_cast<Side*>(context);
    ++side.reads;
    side.turns->pass(side.index);
  }
  void run() {
    turns->wait_for(index);
    result = decode_handles(&log.pane, memory_handle(&output), memory_handle(&input), nullptr,
                            synthesis_path_in_use(), &outcome);
    turns->finish(index);
  }
};

void set_input(Side& side, const std::string& name) {
  side.mp2 = read_file(test_data("golden/" + name));
  side.input.pattern = side.mp2.data();
  side.input.pattern_length = side.mp2.size();
  side.input.size = side.mp2.size();
  side.output.keep = 64 << 20;
}

TEST(TwoStreams, ConvertedSideBySideOnTwoThreadsEachIsItsOwnConversion) {
  const char* pairs[][2] = {
      {"tl_48k_stereo_192k_music.mp2", "tl_32k_mono_48k_speech.mp2"},
      {"tl_44k_jstereo_128k_crc_speech.mp2", "ff_44k_mono_32k_tone.mp2"},
      {"tl_32k_stereo_384k_loud.mp2", "tl_44k_dual_64k_pad_tone.mp2"},
  };
  for (const auto& pair : pairs) {
    SCOPED_TRACE(std::string(pair[0]) + " beside " + pair[1]);
    Turns turns;
    std::unique_ptr<Side> sides[2];
    std::unique_ptr<Side> alone[2];
    for (int i = 0; i < 2; ++i) {
      sides[i].reset(new Side(&turns, i));
      set_input(*sides[i], pair[i]);
      // About a frame a read, and the turn passes after each.
      sides[i]->input.most_per_read = 400;
      sides[i]->input.after_read = Side::after_read;
      sides[i]->input.after_read_context = sides[i].get();
      alone[i].reset(new Side(nullptr, i));
      set_input(*alone[i], pair[i]);
    }
    std::thread first(&Side::run, sides[0].get());
    std::thread second(&Side::run, sides[1].get());
    first.join();
    second.join();
    for (int i = 0; i < 2; ++i) {
      Side& single = *alone[i];
      single.result = decode_handles(&single.log.pane, memory_handle(&single.output), memory_handle(&single.input),
                                     nullptr, synthesis_path_in_use(), &single.outcome);
      EXPECT_EQ(sides[i]->result, 0);
      EXPECT_GT(sides[i]->reads, 20);
      EXPECT_EQ(sides[i]->result, single.result);
      EXPECT_TRUE(sides[i]->output.head == single.output.head) << pair[i];
      EXPECT_EQ(sides[i]->outcome.frames, single.outcome.frames);
      ASSERT_EQ(sides[i]->log.lines.size(), single.log.lines.size());
      // The time taken may differ; the statistics may not.
      EXPECT_EQ(sides[i]->log.lines.back(), single.log.lines.back());
    }
  }
}

}  // namespace
