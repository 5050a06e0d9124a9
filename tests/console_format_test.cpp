// The host's debug console formats as the board's kernel does: its own
// subset of conversions, a wide "%s", and messages below 128 characters.
#include <gtest/gtest.h>

#include <string>

#include "platform/host/host.h"
#include "platform/kernel.h"
#include "tests/test_support.h"

namespace {

class ConsoleFormatTest : public ::testing::Test {
 protected:
  void SetUp() override { host::CaptureConsole(&console); }
  void TearDown() override { host::CaptureConsole(nullptr); }
  std::string console;
  testsupport::FaultCatcher catcher;
};

TEST_F(ConsoleFormatTest, EachConversionOfTheKernelsSubset) {
  const WCHAR path[] = L"\\Hard Disk\\Pelmok\\Data\\109-77-14-5-9";
  NKDbgPrintfW(L"%d %i %u|", -2147483647 - 1, 42, 4294967295u);
  NKDbgPrintfW(L"0x%x 0x%X 0x%8x 0x%8x|", 0xBEEFu, 0xBEEFu, 0x100337u, 0x3u);
  NKDbgPrintfW(L"%s|%c%c|100%%|", path, L'o', L'k');
  NKDbgPrintfW(L"%3d|%5s|", 7, L"ab");
  EXPECT_EQ(console,
            "-2147483648 42 4294967295|"
            "0xbeef 0xBEEF 0x  100337 0x       3|"
            "\\Hard Disk\\Pelmok\\Data\\109-77-14-5-9|ok|100%|"
            "  7|   ab|");
  EXPECT_TRUE(testsupport::FaultCatcher::faults().empty());
}

TEST_F(ConsoleFormatTest, WhatTheKernelCannotPrintIsAFault) {
  const wchar_t* unsupported[] = {L"%ls", L"%f", L"%lld", L"%p", L"%08x", L"%-4d", L"%"};
  for (const wchar_t* format : unsupported) {
    testsupport::FaultCatcher::faults().clear();
    NKDbgPrintfW(format, 1);
    EXPECT_EQ(testsupport::FaultCatcher::faults().size(), 1u) << std::string(format, format + 3);
  }
  EXPECT_EQ(console, "");

  // 127 characters print; 128 do not.
  testsupport::FaultCatcher::faults().clear();
  const std::wstring longest(127, L'x');
  NKDbgPrintfW(L"%s", longest.c_str());
  EXPECT_TRUE(testsupport::FaultCatcher::faults().empty());
  EXPECT_EQ(console.size(), 127u);
  NKDbgPrintfW(L"%sy", longest.c_str());
  EXPECT_EQ(testsupport::FaultCatcher::faults().size(), 1u);
  EXPECT_EQ(console.size(), 127u);
  testsupport::FaultCatcher::faults().clear();
}

}  // namespace
