// Reads the MP2 stream most significant bit first, straight out of the input buffer.
#pragma once

#include <cstdint>
#include <cstring>

// One conversion's reader: where its bytes are, how far it has read.
struct BitReader {
  const uint8_t* byte_ptr = nullptr;  // the next byte to take
  const uint8_t* byte_limit = nullptr;
  uint8_t cache = 0;  // what is left of the last byte taken, left-aligned
  uint8_t bits_left = 0;
  bool ran_out = false;
};

void restart_bits(BitReader& reader, const uint8_t* frame_bytes);
// 1 to 16 bits; bytes at or past the limit read as zero bits.
uint32_t read_bits(BitReader& reader, int count);
// The first byte of which no bit has been delivered (never past the limit).
const uint8_t* bit_position(const BitReader& reader);

// Where valid bytes end. Reads stop there, so a frame cut short by the end of
// the input never reaches outside the buffer.
void set_bit_limit(BitReader& reader, const uint8_t* limit);
// True when a read since the last restart wanted bytes past the limit.
bool bits_ran_out(const BitReader& reader);

// The bytes a wide reader may load beyond the last bit it delivers.
constexpr int kWideReadMargin = 16;
// True when the next `bits` bits, and kWideReadMargin bytes after them, lie
// before the limit: a WideBitReader may then deliver those bits.
bool wide_read_fits(const BitReader& reader, int bits);

// The reader's position, passed by value (in registers) to a wide reader.
struct BitReaderState {
  const uint8_t* ptr;
  uint32_t cache;
  uint32_t bits_left;
};
BitReaderState take_bit_reader_state(const BitReader& reader);
void return_bit_reader_state(BitReader& reader, BitReaderState state);

// Delivers exactly what read_bits would, refilling its window with one
// eight-byte load where read_bits takes a byte at a time. It never checks the
// limit: use it only for reads wide_read_fits has allowed, and hand the state
// back with finish() before any other read.
class WideBitReader {
 public:
  explicit WideBitReader(BitReader& reader) : reader_(reader) {
    const BitReaderState state = take_bit_reader_state(reader);
    ptr_ = state.ptr;
    have_ = static_cast<int>(state.bits_left);
    window_ = have_ > 0 ? static_cast<uint64_t>(state.cache) << 56 : 0;
  }
  void finish() const {
    // Whole bytes still in the window were never taken; what remains of a
    // partly read byte is the cache.
    const uint32_t bits_left = static_cast<uint32_t>(have_ & 7);
    const uint32_t cache = static_cast<uint32_t>(window_ >> 56) & (0xFF00u >> bits_left) & 0xFF;
    return_bit_reader_state(reader_, BitReaderState{ptr_ - (have_ >> 3), cache, bits_left});
  }

  // Makes sure the next `count` bits (up to 56) are in the window.
  void need(int count) {
    if (have_ < count) refill();
  }
  // At least 56 bits in the window, without a branch to mispredict.
  void refill() {
    uint64_t next;
    memcpy(&next, ptr_, sizeof next);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    next = __builtin_bswap64(next);
#endif
    // Whole bytes only: the bits past `have` are the stream's own next bits,
    // so or-ing the same bytes in again later changes nothing.
    window_ |= next >> have_;
    const int bytes = (63 - have_) >> 3;
    ptr_ += bytes;
    have_ += 8 * bytes;
  }
  // 1 to 16 bits already in the window.
  uint32_t take_ready(int count) {
    const uint32_t field = static_cast<uint32_t>(window_ >> (64 - count));
    window_ <<= count;
    have_ -= count;
    return field;
  }
  uint32_t take(int count) {
    need(count);
    return take_ready(count);
  }
  // The next `count` bits (1 to 32, already in the window), left where they are.
  static constexpr bool kPeeks = true;
  uint32_t peek(int count) const { return static_cast<uint32_t>(window_ >> (64 - count)); }
  void skip(int count) {
    window_ <<= count;
    have_ -= count;
  }

 private:
  BitReader& reader_;
  // A 64-bit window over the stream, left-aligned: `have_` bits, the first of
  // them the next to deliver; `ptr_` is the first byte not yet in it.
  uint64_t window_;
  const uint8_t* ptr_;
  int have_;
};

// The same calls over read_bits, for reads near the limit.
class CheckedBitReader {
 public:
  explicit CheckedBitReader(BitReader& reader) : reader_(reader) {}
  void need(int) {}
  void refill() {}
  uint32_t take_ready(int count) { return read_bits(reader_, count); }
  uint32_t take(int count) { return read_bits(reader_, count); }
  static constexpr bool kPeeks = false;
  uint32_t peek(int) const { return 0; }
  void skip(int) {}
  void finish() const {}

 private:
  BitReader& reader_;
};
