// Little-endian fields of WAV files, as the tests and tools read them back.
#pragma once

#include <cstdint>

inline uint16_t le16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }
inline uint32_t le32(const uint8_t* at) { return le16(at) | static_cast<uint32_t>(le16(at + 2)) << 16; }
