// The configuration reader against files on the simulated flash disk.
#include <gtest/gtest.h>

#include <string>

#include "acquisition/configuration.h"
#include "tests/test_support.h"

namespace {

class ConfigurationTest : public testsupport::BoardTest {
 protected:
  // Reads `content` as the configuration file into a record whose fields all
  // start at `initial`, so untouched fields show.
  AcquisitionConfig Read(const std::string& content, int32_t initial = -7) {
    device.MakeDirs("FlashFX Disk/Pelmok");
    device.WriteFile("FlashFX Disk/Pelmok/PelmokConfig.txt", content);
    AcquisitionConfig c = {initial, initial, initial, initial, initial, initial};
    EXPECT_TRUE(ReadConfiguration(c));
    return c;
  }
};

TEST_F(ConfigurationTest, SixKeysSetEveryFieldAndEchoInFileOrder) {
  const AcquisitionConfig c = Read(
      "Number of hydrophones:4\n"
      "Seconds to sleep between acquisitions:1\n"
      "Sample rate:100000\n"
      "Number of samples per record:1000\n"
      "Number of records per Flash Disk file:3\n"
      "Number of Flash Disk files per USB write:2\n");
  EXPECT_EQ(c.sampleRate, 100000);
  EXPECT_EQ(c.samplesPerRecord, 1000);
  EXPECT_EQ(c.hydrophoneCount, 4);
  EXPECT_EQ(c.recordsPerFile, 3);
  EXPECT_EQ(c.filesPerUsbWrite, 2);
  EXPECT_EQ(c.sleepSeconds, 1);
  EXPECT_EQ(console,
            "Opened Configuration File \n"
            "Hydrophones 4\n"
            "Sleep Period rate 1\n"
            "Sample rate 100000\n"
            "Samples per record 1000\n"
            "Records per Flash Disk File 3\n"
            "Flash Disk files per USB write 2\n");
}

TEST_F(ConfigurationTest, ValueConversion) {
  // Space after the colon skipped; CRLF ignored; leading digits only; no digits 0; sign taken.
  const AcquisitionConfig c = Read(
      "Sample rate: 1000\r\n"
      "Number of samples per record:12abc\n"
      "Number of hydrophones:\n"
      "Number of records per Flash Disk file:-5\r\n"
      "Number of Flash Disk files per USB write:  +8\n"
      "Seconds to sleep between acquisitions:x9\n");
  EXPECT_EQ(c.sampleRate, 1000);
  EXPECT_EQ(c.samplesPerRecord, 12);
  EXPECT_EQ(c.hydrophoneCount, 0);
  EXPECT_EQ(c.recordsPerFile, -5);
  EXPECT_EQ(c.filesPerUsbWrite, 8);
  EXPECT_EQ(c.sleepSeconds, 0);
  EXPECT_NE(console.find("Hydrophones 0\n"), std::string::npos);
}

TEST_F(ConfigurationTest, ValuesBeyondThirtyTwoBitsAreClamped) {
  const AcquisitionConfig c = Read(
      "Sample rate:2147483647\n"
      "Number of samples per record:2147483648\n"
      "Number of hydrophones:-2147483648\n"
      "Number of records per Flash Disk file:-99999999999999999999999\n"
      "Number of Flash Disk files per USB write:123456789012345678901234567890\n");
  EXPECT_EQ(c.sampleRate, INT32_MAX);
  EXPECT_EQ(c.samplesPerRecord, INT32_MAX);
  EXPECT_EQ(c.hydrophoneCount, INT32_MIN);
  EXPECT_EQ(c.recordsPerFile, INT32_MIN);
  EXPECT_EQ(c.filesPerUsbWrite, INT32_MAX);
  EXPECT_NE(console.find("Samples per record 2147483647\n"), std::string::npos);
}

TEST_F(ConfigurationTest, KeysMustMatchExactly) {
  // A space before the colon, another case, an unknown key and a line without
  // ':' are all ignored without a word; the fields keep their values.
  const AcquisitionConfig c = Read(
      "Sample rate :5\n"
      "sample rate:6\n"
      "Number of Hydrophones:7\n"
      "Gain:8\n"
      "Number of hydrophones 9\n"
      "\n");
  EXPECT_EQ(c.sampleRate, -7);
  EXPECT_EQ(c.hydrophoneCount, -7);
  EXPECT_EQ(console, "Opened Configuration File \n");
}

TEST_F(ConfigurationTest, ColonRunsAndExtraPieces) {
  // "::" is one separator, a leading ':' is skipped, a third piece is ignored.
  const AcquisitionConfig c = Read(
      "Sample rate::44\n"
      ":Number of hydrophones:3\n"
      "Number of samples per record:256:999\n");
  EXPECT_EQ(c.sampleRate, 44);
  EXPECT_EQ(c.hydrophoneCount, 3);
  EXPECT_EQ(c.samplesPerRecord, 256);
}

TEST_F(ConfigurationTest, RepeatedKeyEchoesEachTimeAndLastWins) {
  const AcquisitionConfig c = Read("Sample rate:1\nSample rate:2\n");
  EXPECT_EQ(c.sampleRate, 2);
  EXPECT_EQ(console, "Opened Configuration File \nSample rate 1\nSample rate 2\n");
}

TEST_F(ConfigurationTest, KeyWithoutValueAtEndOfFileIsNotSet) {
  // No line end after the last key: there is no value piece, so nothing is
  // stored or echoed. With a bare ':' the same holds.
  AcquisitionConfig c = Read("Sample rate:5\nNumber of hydrophones");
  EXPECT_EQ(c.sampleRate, 5);
  EXPECT_EQ(c.hydrophoneCount, -7);
  console.clear();
  c = Read("Number of hydrophones:");
  EXPECT_EQ(c.hydrophoneCount, -7);
  EXPECT_EQ(console, "Opened Configuration File \n");
}

TEST_F(ConfigurationTest, EmptyFileTouchesNothing) {
  const AcquisitionConfig c = Read("", 11);
  EXPECT_EQ(c.sampleRate, 11);
  EXPECT_EQ(c.sleepSeconds, 11);
  EXPECT_EQ(console, "Opened Configuration File \n");
}

TEST_F(ConfigurationTest, LongLinesAreTakenInPieces) {
  // 79 characters are taken at once: the rest of a long line is a line of its
  // own, and here it happens to start with a known key.
  const std::string padding(79 - 9, 'x');
  const AcquisitionConfig c = Read("Gain:1234" + padding + "Sample rate:77\n" +
                                   "Number of hydrophones:" + std::string(60, '0') + "5\n");
  EXPECT_EQ(c.sampleRate, 77);
  // 22 + 57 characters fill the first piece; the remaining "0005\n" starts
  // no known key, so the value is the 57 zeros: 0.
  EXPECT_EQ(c.hydrophoneCount, 0);
}

TEST_F(ConfigurationTest, MissingFileIsReportedAndChangesNothing) {
  AcquisitionConfig c = {1, 2, 3, 4, 5, 6};
  EXPECT_TRUE(ReadConfiguration(c));
  EXPECT_EQ(c.sampleRate, 1);
  EXPECT_EQ(c.sleepSeconds, 6);
  EXPECT_EQ(console,
            "Cannot open configuration file \\FlashFX Disk\\Pelmok\\PelmokConfig.txt \r\n");
}

}  // namespace
