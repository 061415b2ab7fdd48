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

void read_bit_fields(const uint8_t* widths, int count, uint32_t* fields) {
  // A 64-bit window over the stream, left-aligned: `have` bits, the first of
  // them the next to deliver. It starts with what the cache holds and takes
  // only bytes before the limit; a field that would need more goes the byte
  // way, which reads zeros past the limit and notes it.
  Cursor c = load_cursor();
  const uint8_t* p = c.ptr;
  int have = static_cast<int>(c.bits_left);
  uint64_t window = have > 0 ? static_cast<uint64_t>(c.cache) << 56 : 0;
  int i = 0;
  for (; i < count; ++i) {
    const int width = widths[i];
    if (width < 1 || width > 16) break;
    if (have < width) {
      if (byte_limit - p >= 8) {
        uint64_t next = 0;
        for (int b = 0; b < 8; ++b) next = next << 8 | p[b];
        // Whole bytes only: the bits past `have` are the stream's own next
        // bits, so taking the same bytes again later changes nothing.
        window |= next >> have;
        const int bytes = (63 - have) >> 3;
        p += bytes;
        have += 8 * bytes;
      } else {
        while (have <= 56 && p < byte_limit) {
          window |= static_cast<uint64_t>(*p++) << (56 - have);
          have += 8;
        }
        if (have < width) break;
      }
    }
    fields[i] = static_cast<uint32_t>(window >> (64 - width));
    window <<= width;
    have -= width;
  }
  // Back to the byte-wise state: whole bytes still in the window were never
  // taken; what remains of a partly read byte is the cache.
  c.ptr = p - (have >> 3);
  c.bits_left = static_cast<uint32_t>(have & 7);
  c.cache = static_cast<uint32_t>(window >> 56) & (0xFF00u >> c.bits_left) & 0xFF;
  for (; i < count; ++i) fields[i] = read_from(c, widths[i]);
  store_cursor(c);
}

const uint8_t* bit_position() { return byte_ptr; }
