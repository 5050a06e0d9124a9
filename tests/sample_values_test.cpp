#include "hardware/sample_values.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct CodeVolts {
  int32_t code;
  double volts;
};

// Exact doubles: the scale is 2.5 / (2^23 - 1), negative codes one step further.
TEST(AdcCodeToVolts, TableIsExact) {
  const CodeVolts table[] = {
      {0x000000, 0.0},
      {0x000001, 2.9802325940409415e-07},
      {0x400000, 1.2500001490116297},
      {0x7FFFFF, 2.5},
      {0x800000, -2.5000002980232594},
      {0xC00000, -1.2500001490116297},
      {0xFFFFFF, -2.9802325940409415e-07},
  };
  for (const CodeVolts& row : table) {
    EXPECT_EQ(AdcCodeToVolts(row.code), row.volts) << std::hex << "code 0x" << row.code;
  }
}

TEST(AdcCodeToVolts, UpperBitsCountOnlyForPositiveCodes) {
  // Sign-extended negative codes match their 24-bit form.
  EXPECT_EQ(AdcCodeToVolts(-8388608), -2.5000002980232594);
  EXPECT_EQ(AdcCodeToVolts(-1), -2.9802325940409415e-07);
  EXPECT_EQ(AdcCodeToVolts(static_cast<int32_t>(0x5AC00000u)), -1.2500001490116297);
  // With bit 23 clear, bit 24 is part of the value.
  EXPECT_EQ(AdcCodeToVolts(16777216), 5.000000596046519);
}

TEST(FillTestTone, TenSamplesPerPeriod) {
  std::vector<int32_t> values(8, 12345);
  ASSERT_TRUE(FillTestTone(8, 100000, values.data()));
  const std::vector<int32_t> expected = {0, 29389, 47552, 47552, 29389, 0, -29389, -47552};
  EXPECT_EQ(values, expected);
}

TEST(FillTestTone, RateConvertedBeforeDivision) {
  // 44100 does not divide the tone: integer division would give all zeros.
  std::vector<int32_t> values(8);
  ASSERT_TRUE(FillTestTone(8, 44100, values.data()));
  const std::vector<int32_t> expected = {0, 49467, 14397, -45277, -27574, 37252, 38416, -26071};
  EXPECT_EQ(values, expected);
}

TEST(FillTestTone, TenDecimalPiShowsAfterManyPeriods) {
  // At one sample per second every sample lies 10^4 periods on; by sample 1000
  // the short π has drifted 0.0018 rad: -89 where the full π gives 0.
  std::vector<int32_t> values(1001);
  ASSERT_TRUE(FillTestTone(1001, 1, values.data()));
  EXPECT_EQ(values[0], 0);
  EXPECT_EQ(values[999], -89);
  EXPECT_EQ(values[1000], -89);
}

TEST(FillTestTone, WritesOnlyWhatItIsAskedFor) {
  std::vector<int32_t> values(6, 777);
  // count 0 or negative: nothing written, still true.
  EXPECT_TRUE(FillTestTone(0, 100000, values.data()));
  EXPECT_TRUE(FillTestTone(-3, 100000, values.data()));
  EXPECT_EQ(values, std::vector<int32_t>(6, 777));
  // A zero rate is refused before anything is written.
  EXPECT_FALSE(FillTestTone(6, 0, values.data()));
  EXPECT_EQ(values, std::vector<int32_t>(6, 777));
  // count 3: the fourth element keeps its value.
  EXPECT_TRUE(FillTestTone(3, 100000, values.data()));
  EXPECT_EQ(values[0], 0);
  EXPECT_EQ(values[2], 47552);
  EXPECT_EQ(values[3], 777);
}

}  // namespace
