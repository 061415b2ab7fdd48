// Builds MP2 bit patterns in memory, most significant bit first, the way the
// decoder's bit reader takes them apart.
#pragma once

#include <cstdint>
#include <vector>

class BitWriter {
 public:
  // `width` 1 to 32 bits of `value`, top bit first.
  BitWriter& put(uint32_t value, int width) {
    for (int bit = width - 1; bit >= 0; --bit) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if ((value >> bit) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
      ++bits_;
    }
    return *this;
  }
  BitWriter& zeros(int count) {
    for (int i = 0; i < count; ++i) put(0, 1);
    return *this;
  }
  // Zero bits up to the next byte boundary.
  BitWriter& align() {
    while (bits_ % 8 != 0) put(0, 1);
    return *this;
  }
  // Zero bits up to `bytes` bytes past the bit count `from`: the rest of a
  // frame of that length.
  BitWriter& fill_to(size_t from, size_t bytes) {
    while (bits_ < from + 8 * bytes) put(0, 1);
    return *this;
  }
  size_t bit_count() const { return bits_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t bits_ = 0;
};

enum FrameMode { kStereo = 0, kJointStereo = 1, kDualChannel = 2, kSingleChannel = 3 };

// An MPEG-1 Layer II frame header: sync, ID, layer, the protection bit (0 when
// a CRC word follows), then the fields the decoder reads.
inline void put_frame_header(BitWriter& out, int bitrate_index, int sample_rate_index, FrameMode mode,
                             int mode_extension = 0, bool crc = false, bool padding = false) {
  out.put(0xFFF, 12).put(1, 1).put(2, 2).put(crc ? 0 : 1, 1);
  out.put(static_cast<uint32_t>(bitrate_index), 4).put(static_cast<uint32_t>(sample_rate_index), 2);
  out.put(padding ? 1 : 0, 1).put(0, 1).put(mode, 2).put(static_cast<uint32_t>(mode_extension), 2).put(0, 4);
  if (crc) out.put(0xA5A5, 16);
}
