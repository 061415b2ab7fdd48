// A Layer II decoder for the tests, written as plainly as the standard
// describes one: a bit, a field, a value and a sum at a time, nothing left
// out or reordered, rings of 1024 entries. The real decoder is held to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/decoder_context.h"
#include "decoder/layer2_tables.h"

// Dequantization in the stated order: sign term, fraction, then D, C and the
// scale factor, one rounding each.
double stated_dequantize(uint32_t code, const QuantClass& quant, int scale_factor_index);

// A frame body as the plain decoder reads it. Codes and values of a granule
// lie as in the real decoder's frame: subband, then channel, then slot;
// those of silent subbands and absent channels are 0.
struct PlainBody {
  int sblimit = 0;
  int bound = 0;
  uint32_t levels[kMaxChannels][kSubbands] = {};  // 0: silent
  uint8_t scf[kMaxChannels][kSubbands][3] = {};
  uint32_t codes[kGranulesPerFrame][kGranuleValues] = {};
  double values[kGranulesPerFrame][kGranuleValues] = {};
  size_t end_bit = 0;  // the first bit after the last code
};

// The body that starts `first_bit` bits into `bytes`; bits past `size` read as zeros.
PlainBody read_plain_body(const uint8_t* bytes, size_t size, size_t first_bit, int32_t sample_rate, int32_t kbps,
                          int mode, int mode_extension);

struct PlainDecoding {
  int channels = 0;  // 2 once any frame has two: its mono frames are then written twice
  int64_t frames = 0;
  std::vector<int16_t> pcm;  // interleaved
};

// A clean stream only: MPEG-1 Layer II frames one after another from its
// first byte to its last, one sampling frequency, no free format.
PlainDecoding plain_decode(const std::vector<uint8_t>& stream);
