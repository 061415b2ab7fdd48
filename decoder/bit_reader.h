// Reads the MP2 stream most significant bit first, straight out of the input buffer.
#pragma once

#include <cstdint>

// The reader is process-wide: one stream is decoded at a time.
void restart_bits(const uint8_t* frame_bytes);
// 1 to 16 bits; bytes at or past the limit read as zero bits.
uint32_t read_bits(int count);
// `count` fields, field i of widths[i] bits (1 to 16), exactly as that many
// read_bits calls would read them.
void read_bit_fields(const uint8_t* widths, int count, uint32_t* fields);
// The first byte of which no bit has been delivered (never past the limit).
const uint8_t* bit_position();

// Where valid bytes end. Reads stop there, so a frame cut short by the end of
// the input never reaches outside the buffer.
void set_bit_limit(const uint8_t* limit);
// True when a read since the last restart wanted bytes past the limit.
bool bits_ran_out();
