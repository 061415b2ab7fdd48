// The Layer II tables against the rules they were printed by: a mistyped
// digit anywhere breaks one of these.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "decoder/layer2_tables.h"

namespace {

int nbal_sum(const AllocTable& table, int rows) {
  int sum = 0;
  for (int sb = 0; sb < rows; ++sb) sum += table.nbal[sb];
  return sum;
}

// Positive `value` written with `decimals` decimals, halves rounded up as the
// printed tables do (2^-12 is 0.00024414063), and read back.
double printed(double value, int decimals) {
  char text[80];
  snprintf(text, sizeof text, "%.40f", value);  // exact for the powers of two
  std::string digits(text);
  const size_t cut = digits.find('.') + 1 + static_cast<size_t>(decimals);
  const bool up = digits[cut] >= '5';
  digits.resize(cut);
  for (size_t i = cut; up && i-- > 0;) {
    if (digits[i] == '.') continue;
    if (digits[i] != '9') {
      ++digits[i];
      break;
    }
    digits[i] = '0';
  }
  return strtod(digits.c_str(), nullptr);
}

TEST(AllocTables, RowWidthsAndLevelCountsAreThoseOfTheStandard) {
  // The allocation field widths summed over the subbands each table codes:
  // the side information's bit counts, from the standard's printed tables.
  EXPECT_EQ(nbal_sum(alloc_high, 30), 94);
  EXPECT_EQ(nbal_sum(alloc_high, 27), 88);
  EXPECT_EQ(nbal_sum(alloc_low, 12), 38);
  EXPECT_EQ(nbal_sum(alloc_low, 8), 26);
  EXPECT_EQ(alloc_high.levels[0][15], 65535);
  EXPECT_EQ(alloc_high.levels[2][15], 65535);
  EXPECT_EQ(alloc_high.levels[3][14], 8191);
  EXPECT_EQ(alloc_high.levels[10][15], 65535);
  EXPECT_EQ(alloc_high.levels[22][7], 65535);
  EXPECT_EQ(alloc_high.levels[29][3], 65535);
  EXPECT_EQ(alloc_low.levels[1][15], 32767);
  EXPECT_EQ(alloc_low.levels[11][7], 127);
  for (const AllocTable* table : {&alloc_high, &alloc_low}) {
    for (int sb = 0; sb < table->rows; ++sb) {
      SCOPED_TRACE(sb);
      EXPECT_EQ(table->levels[sb][0], 0);  // code 0: silent
      const int codes = 1 << table->nbal[sb];
      for (int code = 1; code < 16; ++code) {
        const int levels = table->levels[sb][code];
        if (code >= codes) {
          EXPECT_EQ(levels, 0);
          continue;
        }
        EXPECT_GT(levels, table->levels[sb][code - 1]);
        if (table == &alloc_low) {
          EXPECT_NE(levels, 65535);
        }
        // Every count a table can select has its own class.
        EXPECT_EQ(find_quant_class(static_cast<uint32_t>(levels))->levels, static_cast<uint32_t>(levels));
      }
    }
  }
  // The classes the frames look up are those the search finds, code by code.
  for (const AllocTable* table : {&alloc_high, &alloc_low, &alloc_half_rate}) {
    for (int sb = 0; sb < table->rows; ++sb) {
      for (int code = 0; code < 16; ++code) {
        ASSERT_EQ(table->classes[sb][code], find_quant_class(static_cast<uint32_t>(table->levels[sb][code])))
            << sb << " " << code;
      }
    }
  }
}

TEST(QuantClasses, FactorsAreTheElevenDecimalsPrintedNotFullPrecision) {
  EXPECT_EQ(quant_classes[0].c, 1.33333333333);
  EXPECT_NE(quant_classes[0].c, 4.0 / 3.0);
  EXPECT_EQ(find_quant_class(9)->c, 1.77777777777);
  EXPECT_EQ(find_quant_class(15)->c, 1.06666666666);
  EXPECT_EQ(find_quant_class(8191)->d, 0.00024414063);
  EXPECT_EQ(find_quant_class(65535)->d, 0.00003051758);
  std::set<uint32_t> grouped;
  for (int i = 0; i < kQuantClassCount; ++i) {
    const QuantClass& q = quant_classes[i];
    SCOPED_TRACE(q.levels);
    if (i > 0) {
      EXPECT_GT(q.levels, quant_classes[i - 1].levels);
    }
    uint32_t power = 1;
    while (power <= q.levels) power <<= 1;
    // C = 2^n / levels rounded to eleven decimals; for 9 and 15 levels the
    // table cuts the digits instead.
    const double exact_c = static_cast<double>(power) / q.levels;
    const bool cut = q.levels == 9 || q.levels == 15;
    EXPECT_EQ(q.c, cut ? std::floor(exact_c * 1e11) / 1e11 : printed(exact_c, 11));
    if (q.grouped) {
      grouped.insert(q.levels);
      EXPECT_EQ(q.d, 0.5);
      EXPECT_EQ(q.bits, q.levels == 3 ? 5 : q.levels == 5 ? 7 : 10);
    } else {
      EXPECT_EQ(power, q.levels + 1);
      EXPECT_EQ(1u << q.bits, power);
      EXPECT_EQ(q.d, printed(std::ldexp(1.0, -(q.bits - 1)), 11));
    }
  }
  EXPECT_EQ(grouped, (std::set<uint32_t>{3, 5, 9}));
}

TEST(QuantClasses, LookupReturnsTheRowWithExactlyThatCount) {
  EXPECT_EQ(find_quant_class(0), &quant_classes[0]);
  EXPECT_EQ(find_quant_class(3), &quant_classes[0]);
  EXPECT_EQ(find_quant_class(9)->bits, 10);
  EXPECT_TRUE(find_quant_class(9)->grouped);
  EXPECT_EQ(find_quant_class(65535), &quant_classes[kQuantClassCount - 1]);
  EXPECT_EQ(find_quant_class(65535)->bits, 16);
}

TEST(ScaleFactors, AreTwoTimesTwoToMinusIOverThreeToFourteenDecimals) {
  EXPECT_EQ(ScaleFactorTable[0], 2.0);
  EXPECT_EQ(ScaleFactorTable[1], 1.5874010519682);
  EXPECT_EQ(ScaleFactorTable[3], 1.0);
  EXPECT_EQ(ScaleFactorTable[6], 0.5);
  EXPECT_EQ(ScaleFactorTable[62], 0.00000120155435);
  EXPECT_EQ(ScaleFactorTable[63], 1.0e-20);  // undefined there: practically silent
  for (int i = 0; i < 63; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ScaleFactorTable[i], printed(2.0 * std::pow(2.0, -i / 3.0), 14));
  }
}

}  // namespace
