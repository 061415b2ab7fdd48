// The Layer II frame header: its fields, and the frame length they give.
#pragma once

#include <cstdint>

constexpr int kHeaderBytes = 4;
constexpr int kModeSingleChannel = 3;
constexpr int kFreeFormat = 0;
constexpr int kForbiddenBitrate = 15;
constexpr int kReservedRate = 3;

struct FrameHeader {
  int version;  // the ID bit: 1 for ISO/IEC 11172-3, 0 for the half rates
  int bitrate_index;
  int rate_index;
  int padding;
  int mode;
  int mode_extension;
  bool crc;
  int32_t sample_rate;
  int32_t bitrate;  // kbit/s; in free format derived from the stream's frame length
  int length;       // bytes from the sync pair to the next frame; 0: none, never a frame
};

// The header whose 4 bytes are at p; a free-format header has a length
// once the stream's unpadded frame length is measured (else 0).
FrameHeader read_header(int32_t free_format_length, const uint8_t* p);
