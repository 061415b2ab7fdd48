#include "decoder/bit_reader.h"

namespace {

// The reader's three variables, held in registers while a run of fields is read.
struct Cursor {
  const uint8_t* ptr;
  uint32_t cache;
  uint32_t bits_left;
};

Cursor load_cursor(const BitReader& r) { return Cursor{r.byte_ptr, r.cache, r.bits_left}; }

void store_cursor(BitReader& r, const Cursor& c) {
  r.byte_ptr = c.ptr;
  r.cache = static_cast<uint8_t>(c.cache);
  r.bits_left = static_cast<uint8_t>(c.bits_left);
}

inline void take_byte(BitReader& r, Cursor& c) {
  if (c.ptr < r.byte_limit) {
    c.cache = *c.ptr++;
  } else {
    c.cache = 0;
    r.ran_out = true;
  }
  c.bits_left = 8;
}

inline uint32_t read_from(BitReader& r, Cursor& c, int count) {
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
    if (r.byte_limit - c.ptr >= bytes) {
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
  if (c.bits_left == 0) take_byte(r, c);
  while (count > static_cast<int>(c.bits_left)) {
    result = (result << c.bits_left) | (c.cache >> (8 - c.bits_left));
    count -= c.bits_left;
    take_byte(r, c);
  }
  result = (result << count) | (c.cache >> (8 - count));
  c.cache = (c.cache << count) & 0xFF;
  c.bits_left -= count;
  // Wider requests keep only the last 16 bits, as a 16-bit accumulator would.
  return result & 0xFFFF;
}

}  // namespace

void restart_bits(BitReader& reader, const uint8_t* frame_bytes) {
  reader.byte_ptr = frame_bytes;
  reader.bits_left = 0;
  reader.ran_out = false;
}

void set_bit_limit(BitReader& reader, const uint8_t* limit) { reader.byte_limit = limit; }

bool bits_ran_out(const BitReader& reader) { return reader.ran_out; }

uint32_t read_bits(BitReader& reader, int count) {
  Cursor c = load_cursor(reader);
  const uint32_t result = read_from(reader, c, count);
  store_cursor(reader, c);
  return result;
}

bool wide_read_fits(const BitReader& reader, int bits) {
  const int fresh_bytes = (bits - reader.bits_left + 7) >> 3;
  return reader.byte_limit - reader.byte_ptr >= fresh_bytes + kWideReadMargin;
}

BitReaderState take_bit_reader_state(const BitReader& reader) {
  return BitReaderState{reader.byte_ptr, reader.cache, reader.bits_left};
}

void return_bit_reader_state(BitReader& reader, BitReaderState state) {
  store_cursor(reader, Cursor{state.ptr, state.cache, state.bits_left});
}

const uint8_t* bit_position(const BitReader& reader) { return reader.byte_ptr; }
