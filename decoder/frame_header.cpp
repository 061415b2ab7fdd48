#include "decoder/frame_header.h"

namespace {

// Layer II bit rates in kbit/s and sampling frequencies in Hz, by the header's
// ID bit: 0 for the half rates of ISO/IEC 13818-3, 1 for ISO/IEC 11172-3.
// Bitrate index 0 is free format; index 15 and rate index 3 have no value.
const int32_t BitrateTable[2][16] = {
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
};
const int32_t SampleRateTable[2][4] = {{22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};

int32_t free_format_bitrate(int32_t length, int32_t sample_rate) {
  return static_cast<int32_t>((static_cast<int64_t>(length) * sample_rate + 72000) / 144000);
}

}  // namespace

FrameHeader read_header(int32_t free_format_length, const uint8_t* p) {
  FrameHeader h;
  h.version = (p[1] >> 3) & 1;
  h.crc = (p[1] & 1) == 0;
  h.bitrate_index = p[2] >> 4;
  h.rate_index = (p[2] >> 2) & 3;
  h.padding = (p[2] >> 1) & 1;
  h.mode = p[3] >> 6;
  h.mode_extension = (p[3] >> 4) & 3;
  h.sample_rate = SampleRateTable[h.version][h.rate_index];
  h.bitrate = BitrateTable[h.version][h.bitrate_index];
  h.length = 0;
  if (h.rate_index == kReservedRate || h.bitrate_index == kForbiddenBitrate) return h;
  if (h.bitrate_index != kFreeFormat) {
    h.length = 144000 * h.bitrate / h.sample_rate + h.padding;
  } else if (free_format_length != 0) {
    h.length = free_format_length + h.padding;
    h.bitrate = free_format_bitrate(free_format_length, h.sample_rate);
  }
  return h;
}
