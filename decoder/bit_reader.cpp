#include "decoder/bit_reader.h"

namespace {

const uint8_t* byte_ptr = nullptr;
const uint8_t* byte_limit = nullptr;
uint8_t cache = 0;
uint8_t bits_left = 0;
bool ran_out = false;

// The reader's three variables, held in registers while a run of fields is read.
struct Cursor {
  const uint8_t* ptr;
  uint32_t cache;
  uint32_t bits_left;
};

Cursor load_cursor() { return Cursor{byte_ptr, cache, bits_left}; }

void store_cursor(const Cursor& c) {
  byte_ptr = c.ptr;
  cache = static_cast<uint8_t>(c.cache);
  bits_left = static_cast<uint8_t>(c.bits_left);
}

inline void take_byte(Cursor& c) {
  if (c.ptr < byte_limit) {
    c.cache = *c.ptr++;
  } else {
    c.cache = 0;
    ran_out = true;
  }
  c.bits_left = 8;
}

inline uint32_t read_from(Cursor& c, int count) {
  // Every read the decoder makes is served here: from the cache alone, or
  // with one or two whole bytes that lie before the limit.
  if (count >= 1 && count <= 16) {
    if (count <= static_cast<int>(c.bits_left)) {
      const uint32_t result = c.cache >> (8 - count);
      c.cache = (c.cache << count) & 0xFF;
      c.bits_left -= count;
      return result;
    }
    const int wanted = count - static_cast<int>(c.bits_left);
    const int bytes = (wanted + 7) >> 3;
    if (byte_limit - c.ptr >= bytes) {
      uint32_t fresh = c.ptr[0];
      if (bytes == 2) fresh = fresh << 8 | c.ptr[1];
      const int spare = 8 * bytes - wanted;
      const uint32_t result = ((c.cache >> (8 - c.bits_left)) << wanted) | (fresh >> spare);
      // What is left of the last byte taken, left-aligned, as bit by bit.
      c.cache = (fresh << (8 - spare)) & 0xFF;
      c.bits_left = spare;
      c.ptr += bytes;
      return result & 0xFFFF;
    }
  }

  // Bit by bit, with zeros past the limit.
  uint32_t result = 0;
  if (c.bits_left == 0) take_byte(c);
  while (count > static_cast<int>(c.bits_left)) {
    result = (result << c.bits_left) | (c.cache >> (8 - c.bits_left));
    count -= c.bits_left;
    take_byte(c);
  }
  result = (result << count) | (c.cache >> (8 - count));
  c.cache = (c.cache << count) & 0xFF;
  c.bits_left -= count;
  // Wider requests keep only the last 16 bits, as a 16-bit accumulator would.
  return result & 0xFFFF;
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
  Cursor c = load_cursor();
  const uint32_t result = read_from(c, count);
  store_cursor(c);
  return result;
}

bool wide_read_fits(int bits) {
  const int fresh_bytes = (bits - bits_left + 7) >> 3;
  return byte_limit - byte_ptr >= fresh_bytes + kWideReadMargin;
}

BitReaderState take_bit_reader_state() { return BitReaderState{byte_ptr, cache, bits_left}; }

void return_bit_reader_state(BitReaderState state) {
  byte_ptr = state.ptr;
  cache = static_cast<uint8_t>(state.cache);
  bits_left = static_cast<uint8_t>(state.bits_left);
}

const uint8_t* bit_position() { return byte_ptr; }
