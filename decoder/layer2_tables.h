// Constant tables for the body of a Layer II frame (ISO/IEC 11172-3, Annex B,
// and ISO/IEC 13818-3, Annex B, for the half sampling rates).
#pragma once

#include <cstdint>

struct QuantClass;

struct AllocTable {
  int32_t rows;
  const int32_t* nbal;          // width of each subband's allocation code
  const int32_t (*levels)[16];  // quantization levels per allocation code; 0 = silent
  const QuantClass* const (*classes)[16];  // find_quant_class of each of those levels
};

struct QuantClass {
  uint32_t levels;
  double c;
  double d;
  uint8_t grouped;
  int32_t bits;
};

constexpr int kQuantClassCount = 17;

extern const AllocTable alloc_high;  // 30 rows, Table B.2b (first 27 rows: B.2a)
extern const AllocTable alloc_low;   // 12 rows, Table B.2d (first 8 rows: B.2c)
extern const AllocTable alloc_half_rate;  // 30 rows, ISO/IEC 13818-3 Table B.1
extern const QuantClass quant_classes[kQuantClassCount];
extern const double ScaleFactorTable[64];

const QuantClass* find_quant_class(uint32_t levels);

// The joint-stereo bound for each mode extension.
extern const int32_t BoundTable[4];

// The table a frame of this sampling frequency, bit rate and mode decodes
// with: its id (0 to 3 as in ISO/IEC 11172-3, 4 for the half rates) and the
// number of subbands it codes.
struct AllocChoice {
  const AllocTable* table;
  int table_id;
  int sblimit;
};
AllocChoice choose_alloc_table(int32_t sample_rate, int32_t bitrate_kbps, int mode);
