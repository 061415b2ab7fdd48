// Builds small MP2 byte streams whose frames allocate nothing: they decode to
// silence and their bodies are exactly the allocation codes, all zero.
#pragma once

#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Header byte 2: bitrate index and sampling-frequency index.
inline uint8_t rate_byte(int bitrate_index, int frequency_index) {
  return static_cast<uint8_t>(bitrate_index << 4 | frequency_index << 2);
}

// The bytes from an MPEG-1 Layer II header with this rate byte to the next
// frame: 144000 x kbit/s / Hz, plus the padding bit; 0 when it has no length.
inline size_t frame_length(uint8_t rate) {
  static const int kbps[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
  static const int hz[4] = {44100, 48000, 32000, 0};
  const int bitrate = kbps[rate >> 4];
  const int frequency = hz[(rate >> 2) & 3];
  if (bitrate == 0 || frequency == 0) return 0;
  return static_cast<size_t>(144000 * bitrate / frequency + ((rate >> 1) & 1));
}

// A whole frame with every allocation code 0: mode 3 (mono) reads 88 bits
// with the 27-subband table, two-channel modes 176; zero bytes fill it to
// the length its header gives. A header without a length (free format, the
// reserved fields) gets `body_bytes` zero bytes.
inline Bytes silent_frame(uint8_t rate, int mode, int body_bytes, bool crc = false, uint16_t crc_word = 0) {
  const size_t header = crc ? 6 : 4;
  const size_t length = frame_length(rate);
  Bytes frame(length != 0 ? length : header + static_cast<size_t>(body_bytes), 0);
  frame[0] = 0xFF;
  frame[1] = static_cast<uint8_t>(crc ? 0xFC : 0xFD);
  frame[2] = rate;
  frame[3] = static_cast<uint8_t>(mode << 6);
  if (crc) {
    frame[4] = static_cast<uint8_t>(crc_word >> 8);
    frame[5] = static_cast<uint8_t>(crc_word);
  }
  return frame;
}

// 48 kHz mono at 64 kbit/s: the 27-subband table, 192 bytes.
inline Bytes mono_frame_48k() { return silent_frame(rate_byte(4, 1), 3, 11); }
// 48 kHz stereo at 128 kbit/s: the 27-subband table, 384 bytes.
inline Bytes stereo_frame_48k() { return silent_frame(rate_byte(8, 1), 0, 22); }

inline Bytes repeat(const Bytes& unit, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
