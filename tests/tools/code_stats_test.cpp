// CodeStats' bit activity, counted by byte value and completed by Finish,
// against the bit-by-bit count it stands for.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>

#include "tools/formats/data_file.h"

namespace {

TEST(CodeStatsTest, BitActivityMatchesABitByBitCountAcrossFinishes) {
  std::mt19937 random(17);
  datatools::CodeStats stats;
  std::array<uint64_t, 24> expected{};
  // Finish may come more than once (words after it count on top).
  for (int part = 0; part < 3; ++part) {
    for (int i = 0; i < 5000; ++i) {
      // Some words above bit 23, some zero, most anything.
      const uint32_t word = i % 97 == 0 ? 0 : static_cast<uint32_t>(random());
      stats.Add(word);
      for (int b = 0; b < 24; ++b) expected[b] += (word >> b) & 1u;
    }
    stats.Finish();
    EXPECT_EQ(stats.ones, expected) << "after part " << part;
  }
  EXPECT_EQ(stats.samples, 15000u);
}

}  // namespace
