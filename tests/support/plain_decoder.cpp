#include "tests/support/plain_decoder.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>

#include "decoder/synthesis.h"

namespace {

constexpr int kModeJointStereo = 1;
constexpr int kModeSingleChannel = 3;
constexpr int kRing = 1024;
const int32_t kBitrates[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
const int32_t kSampleRates[4] = {44100, 48000, 32000, 0};

// Most significant bit first, one bit at a time.
class PlainBits {
 public:
  PlainBits(const uint8_t* bytes, size_t size, size_t first_bit) : bytes_(bytes), size_(size), bit_(first_bit) {}
  uint32_t get(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++bit_) {
      const size_t byte = bit_ / 8;
      const uint32_t bit = byte < size_ ? bytes_[byte] >> (7 - bit_ % 8) & 1 : 0;
      value = value << 1 | bit;
    }
    return value;
  }
  size_t position() const { return bit_; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t bit_;
};

const QuantClass& class_of(uint32_t levels) {
  for (const QuantClass& quant : quant_classes) {
    if (quant.levels == levels) return quant;
  }
  throw std::logic_error("no quantization class of " + std::to_string(levels) + " levels");
}

int at(int sb, int ch, int slot) { return sb * kMaxChannels * kSlotsPerGranule + ch * kSlotsPerGranule + slot; }

struct PlainSynthesis {
  double n[64][kSubbands];
  double mono_ring[kRing] = {};
  double channel_rings[kMaxChannels][kRing] = {};
  int v_offset = 64;

  PlainSynthesis() {
    for (int i = 0; i < 64; ++i) {
      for (int k = 0; k < kSubbands; ++k) {
        double t = std::cos((16 + i) * (2 * k + 1) * 0.04908738521234047) * 1e9;
        t = t >= 0 ? t + 0.5 : t - 0.5;
        n[i][k] = std::trunc(t) * 1e-9;
      }
    }
  }

  // One slot of one channel into 32 PCM values, `step` apart.
  void slot(double* ring, const double* samples, int sblimit, int16_t* out, int step) const {
    for (int i = 0; i < 64; ++i) {
      double sum = 0.0;
      for (int k = 0; k < sblimit; ++k) sum += n[i][k] * samples[k];
      ring[v_offset + i] = sum;
    }
    double w[512];
    for (int r = 0; r < 8; ++r) {
      for (int j = 0; j < 32; ++j) {
        w[64 * r + j] = SynthesisWindow[64 * r + j] * ring[(v_offset + 128 * r + j) % kRing];
        w[64 * r + 32 + j] = SynthesisWindow[64 * r + 32 + j] * ring[(v_offset + 128 * r + 96 + j) % kRing];
      }
    }
    for (int j = 0; j < 32; ++j) {
      double sum = 0.0;
      for (int i = 0; i < 16; ++i) sum += w[j + 32 * i];
      double scaled = sum * 32768;
      scaled = scaled + 0.5;
      const double pcm = std::floor(scaled);
      out[j * step] = static_cast<int16_t>(std::min(32767.0, std::max(-32768.0, pcm)));
    }
  }
};

}  // namespace

double stated_dequantize(uint32_t code, const QuantClass& quant, int scale_factor_index) {
  uint32_t power = 1;
  while (power < quant.levels) power <<= 1;
  const uint32_t msb = power / 2;
  const double sign = (code & msb) != 0 ? 0.0 : -1.0;
  const double fraction = static_cast<double>(code & (msb - 1)) / msb;
  double value = sign + fraction;
  value = value + quant.d;
  value = value * quant.c;
  return value * ScaleFactorTable[scale_factor_index];
}

PlainBody read_plain_body(const uint8_t* bytes, size_t size, size_t first_bit, int32_t sample_rate, int32_t kbps,
                          int mode, int mode_extension) {
  const AllocChoice choice = choose_alloc_table(sample_rate, kbps, mode);
  const int channels = mode == kModeSingleChannel ? 1 : 2;
  PlainBody body;
  body.sblimit = choice.sblimit;
  body.bound = mode == kModeJointStereo ? std::min(BoundTable[mode_extension], choice.sblimit) : choice.sblimit;
  PlainBits in(bytes, size, first_bit);

  for (int sb = 0; sb < body.sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      // Above the bound one allocation serves both channels.
      if (sb >= body.bound && ch == 1) {
        body.levels[1][sb] = body.levels[0][sb];
      } else {
        body.levels[ch][sb] = static_cast<uint32_t>(choice.table->levels[sb][in.get(choice.table->nbal[sb])]);
      }
    }
  }
  uint32_t scfsi[kMaxChannels][kSubbands] = {};
  for (int sb = 0; sb < body.sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (body.levels[ch][sb] != 0) scfsi[ch][sb] = in.get(2);
    }
  }
  for (int sb = 0; sb < body.sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (body.levels[ch][sb] == 0) continue;
      uint8_t* parts = body.scf[ch][sb];
      parts[0] = static_cast<uint8_t>(in.get(6));
      switch (scfsi[ch][sb]) {
        case 0:
          parts[1] = static_cast<uint8_t>(in.get(6));
          parts[2] = static_cast<uint8_t>(in.get(6));
          break;
        case 1:
          parts[1] = parts[0];
          parts[2] = static_cast<uint8_t>(in.get(6));
          break;
        case 2:
          parts[1] = parts[2] = parts[0];
          break;
        default:
          parts[1] = parts[2] = static_cast<uint8_t>(in.get(6));
          break;
      }
    }
  }

  for (int granule = 0; granule < kGranulesPerFrame; ++granule) {
    uint32_t* codes = body.codes[granule];
    for (int sb = 0; sb < body.sblimit; ++sb) {
      for (int ch = 0; ch < (sb < body.bound ? channels : 1); ++ch) {
        const uint32_t levels = body.levels[ch][sb];
        if (levels == 0) continue;
        const QuantClass& quant = class_of(levels);
        uint32_t three[3];
        if (quant.grouped) {
          const uint32_t word = in.get(quant.bits);
          three[0] = word % levels;
          three[1] = (word / levels) % levels;
          three[2] = (word / levels) / levels;
        } else {
          for (uint32_t& code : three) code = in.get(quant.bits);
        }
        for (int slot = 0; slot < kSlotsPerGranule; ++slot) {
          codes[at(sb, ch, slot)] = three[slot];
          // Above the bound channel 1 has channel 0's codes.
          if (sb >= body.bound && channels == 2) codes[at(sb, 1, slot)] = three[slot];
        }
      }
    }
    for (int sb = 0; sb < body.sblimit; ++sb) {
      for (int ch = 0; ch < channels; ++ch) {
        if (body.levels[ch][sb] == 0) continue;
        for (int slot = 0; slot < kSlotsPerGranule; ++slot) {
          body.values[granule][at(sb, ch, slot)] = stated_dequantize(
              codes[at(sb, ch, slot)], class_of(body.levels[ch][sb]), body.scf[ch][sb][granule / 4]);
        }
      }
    }
  }
  body.end_bit = in.position();
  return body;
}

PlainDecoding plain_decode(const std::vector<uint8_t>& stream) {
  struct Frame {
    size_t start;
    bool crc;
    int32_t kbps;
    int32_t sample_rate;
    int mode;
    int mode_extension;
  };
  std::vector<Frame> frames;
  for (size_t start = 0; start < stream.size();) {
    if (start + 4 > stream.size()) throw std::invalid_argument("a header cut short");
    const uint8_t* p = stream.data() + start;
    if (p[0] != 0xFF || (p[1] & 0xFE) != 0xFC) throw std::invalid_argument("no MPEG-1 Layer II frame");
    const Frame frame{start,      (p[1] & 1) == 0, kBitrates[p[2] >> 4], kSampleRates[p[2] >> 2 & 3],
                      p[3] >> 6, p[3] >> 4 & 3};
    if (frame.kbps == 0 || frame.sample_rate == 0) throw std::invalid_argument("a frame without a length");
    if (!frames.empty() && frame.sample_rate != frames[0].sample_rate) throw std::invalid_argument("rate changes");
    frames.push_back(frame);
    start += static_cast<size_t>(144000 * frame.kbps / frame.sample_rate + (p[2] >> 1 & 1));
  }

  PlainDecoding decoding;
  decoding.frames = static_cast<int64_t>(frames.size());
  decoding.channels = 1;
  for (const Frame& frame : frames) {
    if (frame.mode != kModeSingleChannel) decoding.channels = 2;
  }
  auto synthesis = std::make_unique<PlainSynthesis>();
  for (const Frame& frame : frames) {
    const size_t first_bit = 8 * (frame.start + (frame.crc ? 6 : 4));
    const auto body = std::make_unique<PlainBody>(read_plain_body(
        stream.data(), stream.size(), first_bit, frame.sample_rate, frame.kbps, frame.mode, frame.mode_extension));
    for (const double* granule : body->values) {
      for (int slot = 0; slot < kSlotsPerGranule; ++slot) {
        // Every slot moves v_offset, whichever rings it writes.
        synthesis->v_offset = (synthesis->v_offset - 64 + kRing) % kRing;
        double samples[kMaxChannels][kSubbands];
        for (int ch = 0; ch < kMaxChannels; ++ch) {
          for (int sb = 0; sb < kSubbands; ++sb) samples[ch][sb] = granule[at(sb, ch, slot)];
        }
        int16_t pcm[kMaxChannels * 32];
        if (frame.mode == kModeSingleChannel) {
          synthesis->slot(synthesis->mono_ring, samples[0], body->sblimit, pcm, 1);
          // Twice over once the stream has a frame of two channels.
          for (int j = 0; j < 32; ++j) {
            for (int copy = 0; copy < decoding.channels; ++copy) decoding.pcm.push_back(pcm[j]);
          }
        } else {
          synthesis->slot(synthesis->channel_rings[0], samples[0], body->sblimit, pcm, 2);
          synthesis->slot(synthesis->channel_rings[1], samples[1], body->sblimit, pcm + 1, 2);
          decoding.pcm.insert(decoding.pcm.end(), pcm, pcm + 64);
        }
      }
    }
  }
  return decoding;
}
