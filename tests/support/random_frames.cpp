#include "tests/support/random_frames.h"

#include <algorithm>
#include <utility>

#include "decoder/layer2_tables.h"

namespace {

const int32_t kBitrates[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
const int32_t kSampleRates[3] = {44100, 48000, 32000};
// The scale factors sent for each selection information.
const int kScaleFactorsSent[4] = {3, 2, 1, 2};

struct FramePlan {
  AllocChoice choice;
  int channels;
  int bound;
  uint32_t alloc[2][32];  // allocation codes; above the bound channel 1's copy channel 0's
  uint32_t scfsi[2][32];

  int nbal(int sb) const { return choice.table->nbal[sb]; }
  // Above the bound one channel's fields serve both.
  int coded_channels(int sb) const { return sb < bound ? channels : 1; }
  const QuantClass& quant(int ch, int sb) const { return *choice.table->classes[sb][alloc[ch][sb]]; }
  int body_bits() const {
    int bits = 0;
    for (int sb = 0; sb < choice.sblimit; ++sb) {
      bits += coded_channels(sb) * nbal(sb);
      for (int ch = 0; ch < channels; ++ch) {
        if (alloc[ch][sb] != 0) bits += 2 + 6 * kScaleFactorsSent[scfsi[ch][sb]];
      }
      for (int ch = 0; ch < coded_channels(sb); ++ch) {
        if (alloc[ch][sb] != 0) bits += 12 * (quant(ch, sb).grouped ? 1 : 3) * quant(ch, sb).bits;
      }
    }
    return bits;
  }
};

void put_random_frame(BitWriter& out, std::mt19937& random, int rate_index, FrameMode mode, bool silent_below_bound,
                      uint32_t& tables) {
  const size_t start = out.bit_count();
  const int bitrate_index = 1 + static_cast<int>(random() % 14);
  const int extension = static_cast<int>(random() % 4);
  const bool crc = random() % 2 != 0;
  const bool padding = random() % 2 != 0;
  const int32_t kbps = kBitrates[bitrate_index];
  const int length = 144000 * kbps / kSampleRates[rate_index] + (padding ? 1 : 0);

  FramePlan f{};
  f.choice = choose_alloc_table(kSampleRates[rate_index], kbps, mode);
  tables |= 1u << f.choice.table_id;
  f.channels = mode == kSingleChannel ? 1 : 2;
  f.bound = mode == kJointStereo ? std::min(BoundTable[extension], f.choice.sblimit) : f.choice.sblimit;
  silent_below_bound = mode == kJointStereo && (silent_below_bound || random() % 4 == 0);
  // Percent of subbands coded: none at all in some frames.
  const uint32_t density = random() % 8 == 0 ? 0 : static_cast<uint32_t>(random() % 101);
  for (int sb = 0; sb < f.choice.sblimit; ++sb) {
    for (int ch = 0; ch < f.coded_channels(sb); ++ch) {
      const uint32_t codes = 1u << f.nbal(sb);
      if (!(silent_below_bound && sb < f.bound) && random() % 100 < density) {
        f.alloc[ch][sb] = 1 + static_cast<uint32_t>(random() % (codes - 1));
      }
    }
    if (sb >= f.bound) f.alloc[1][sb] = f.alloc[0][sb];
    for (uint32_t(&scfsi)[32] : f.scfsi) scfsi[sb] = static_cast<uint32_t>(random() % 4);
  }
  // Allocations halved at random until the body fits the frame.
  const int room = 8 * length - 32 - (crc ? 16 : 0);
  while (f.body_bits() > room) {
    std::vector<std::pair<int, int>> coded;
    for (int sb = 0; sb < f.choice.sblimit; ++sb) {
      for (int ch = 0; ch < f.coded_channels(sb); ++ch) {
        if (f.alloc[ch][sb] != 0) coded.emplace_back(ch, sb);
      }
    }
    const auto [ch, sb] = coded[random() % coded.size()];
    f.alloc[ch][sb] /= 2;
    if (sb >= f.bound) f.alloc[1][sb] = f.alloc[0][sb];
  }

  put_frame_header(out, bitrate_index, rate_index, mode, extension, crc, padding);
  for (int sb = 0; sb < f.choice.sblimit; ++sb) {
    for (int ch = 0; ch < f.coded_channels(sb); ++ch) out.put(f.alloc[ch][sb], f.nbal(sb));
  }
  for (int sb = 0; sb < f.choice.sblimit; ++sb) {
    for (int ch = 0; ch < f.channels; ++ch) {
      if (f.alloc[ch][sb] != 0) out.put(f.scfsi[ch][sb], 2);
    }
  }
  for (int sb = 0; sb < f.choice.sblimit; ++sb) {
    for (int ch = 0; ch < f.channels; ++ch) {
      if (f.alloc[ch][sb] == 0) continue;
      for (int i = 0; i < kScaleFactorsSent[f.scfsi[ch][sb]]; ++i) out.put(static_cast<uint32_t>(random() % 64), 6);
    }
  }
  for (int granule = 0; granule < 12; ++granule) {
    for (int sb = 0; sb < f.choice.sblimit; ++sb) {
      for (int ch = 0; ch < f.coded_channels(sb); ++ch) {
        if (f.alloc[ch][sb] == 0) continue;
        // Any word of a grouped class's width decodes, by the same formula.
        const QuantClass& quant = f.quant(ch, sb);
        for (int i = 0; i < (quant.grouped ? 1 : 3); ++i) {
          out.put(static_cast<uint32_t>(random() & ((1u << quant.bits) - 1)), quant.bits);
        }
      }
    }
  }
  while (out.bit_count() % 8 != 0) out.put(static_cast<uint32_t>(random() & 1), 1);
  while (out.bit_count() < start + 8 * static_cast<size_t>(length)) out.put(static_cast<uint32_t>(random() & 0xFF), 8);
}

}  // namespace

RandomStream random_stream(std::mt19937& random, int rate_index, const std::vector<FrameRun>& runs) {
  BitWriter out;
  RandomStream stream;
  for (const FrameRun& run : runs) {
    for (int i = 0; i < run.frames; ++i) {
      const FrameMode mode = run.modes[random() % run.modes.size()];
      put_random_frame(out, random, rate_index, mode, run.silent_below_bound, stream.tables);
      ++stream.frames;
    }
  }
  stream.bytes = out.bytes();
  return stream;
}

std::vector<FrameRun> random_runs(std::mt19937& random) {
  bool mono = random() % 2 != 0;
  std::vector<FrameRun> runs(1 + random() % 6);
  for (FrameRun& run : runs) {
    run.modes = mono ? std::vector<FrameMode>{kSingleChannel}
                     : std::vector<FrameMode>{kStereo, kJointStereo, kDualChannel};
    run.frames = 1 + static_cast<int>(random() % 40);
    mono = !mono;
  }
  return runs;
}
