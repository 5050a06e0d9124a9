// FormatText: the system's one bounded formatter, terminated whether or not
// the text fits, with the fit reported.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/format.h"

namespace {

TEST(FormatTextTest, TextThatFitsIsWrittenWhole) {
  char buffer[16];
  EXPECT_EQ(FormatText(buffer, sizeof buffer, "%s%d-%d", "ab", 109, -7), 8);
  EXPECT_STREQ(buffer, "ab109--7");
  // Exactly filling the buffer, terminator included, still fits.
  char exact[4];
  EXPECT_EQ(FormatText(exact, sizeof exact, "%d", 123), 3);
  EXPECT_STREQ(exact, "123");
}

TEST(FormatTextTest, TruncatedTextIsTerminatedAndReported) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(FormatText(buffer, 5, "%d", 123456), -1);
  EXPECT_STREQ(buffer, "1234");
  EXPECT_EQ(buffer[5], 'x');  // nothing beyond the given size
  EXPECT_EQ(FormatText(buffer, 4, "%s", "abcd"), -1);
  EXPECT_STREQ(buffer, "abc");
}

TEST(FormatTextTest, EmptyBufferIsLeftAlone) {
  char buffer[2] = {'x', 'y'};
  EXPECT_EQ(FormatText(buffer, 0, "%d", 1), -1);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(FormatText(buffer, 1, "%d", 1), -1);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'y');
}

}  // namespace
