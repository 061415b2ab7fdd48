#include "decoder/bit_reader.h"

namespace {

const uint8_t* byte_ptr = nullptr;
const uint8_t* byte_limit = nullptr;
uint8_t cache = 0;
uint8_t bits_left = 0;
bool ran_out = false;

inline void take_byte() {
  if (byte_ptr < byte_limit) {
    cache = *byte_ptr++;
  } else {
    cache = 0;
    ran_out = true;
  }
  bits_left = 8;
}

}  // namespace

void restart_bits(const uint8_t* frame_bytes) {
  byte_ptr = frame_bytes;
  bits_left = 0;
  ran_out = false;
}

void set_bit_limit(const uint8_t* limit) { byte_limit = limit; }

bool bits_ran_out() { return ran_out; }

uint32_t read_bits(int count) {
  uint32_t result = 0;
  if (bits_left == 0) take_byte();
  while (count > bits_left) {
    result = (result << bits_left) | (cache >> (8 - bits_left));
    count -= bits_left;
    take_byte();
  }
  result = (result << count) | (cache >> (8 - count));
  cache = static_cast<uint8_t>(cache << count);
  bits_left = static_cast<uint8_t>(bits_left - count);
  // Wider requests keep only the last 16 bits, as a 16-bit accumulator would.
  return result & 0xFFFF;
}

const uint8_t* bit_position() { return byte_ptr; }
