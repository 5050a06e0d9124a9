// Register windows, the long-lived mappings and the SSP3 set-up, driven
// against the simulated board and checked as bus traces and console text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hardware/pxa27x_clock_regs.h"
#include "hardware/pxa27x_gpio_regs.h"
#include "hardware/pxa27x_ssp_regs.h"
#include "hardware/register_windows.h"
#include "hardware/ssp3.h"
#include "sim/pxa27x_clock.h"
#include "sim/pxa27x_gpio.h"
#include "sim/pxa27x_ssp.h"
#include "tests/test_support.h"

namespace {

using testsupport::RecordingTrace;

struct Access {
  char kind;  // 'R' or 'W'
  uint32_t address;
  uint32_t value;
  bool operator==(const Access& o) const {
    return kind == o.kind && address == o.address && value == o.value;
  }
};

std::ostream& operator<<(std::ostream& os, const Access& a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%c 0x%08x 0x%08x", a.kind, a.address, a.value);
  return os << buf;
}

std::vector<Access> Accesses(const RecordingTrace& trace) {
  std::vector<Access> out;
  for (const auto& r : trace.records) out.push_back({r.write ? 'W' : 'R', r.address, r.value});
  return out;
}

constexpr uint32_t kGafr2U = 0x40E00068;
constexpr uint32_t kGpdr2 = 0x40E00014;
constexpr uint32_t kSscr0 = 0x41900000;
constexpr uint32_t kSscr1 = 0x41900004;
constexpr uint32_t kSssr = 0x41900008;
constexpr uint32_t kSspsp = 0x4190002C;
constexpr uint32_t kSsrsa = 0x41900034;
constexpr uint32_t kCken = 0x41300004;

class RegisterWindowTest : public testsupport::BoardTest {};

TEST_F(RegisterWindowTest, PhysicalRangesBindWholePages) {
  // 116 bytes at a page start: one page, the window on the reservation's start.
  RegisterWindow gpio = MapPhysicalAddr(0x40E00000, 116);
  ASSERT_NE(gpio, nullptr);
  // 0x200 bytes from 0xF00 into a page: two pages, the window 0xF00 in.
  RegisterWindow straddle = MapPhysicalAddr(0x40E00F00, 0x200);
  ASSERT_NE(straddle, nullptr);
  auto held = host::Reservations();
  ASSERT_EQ(held.size(), 2u);
  EXPECT_EQ(held[0].start, reinterpret_cast<uintptr_t>(gpio));
  EXPECT_EQ(held[0].size, 0x1000u);
  EXPECT_EQ(held[0].physicalBase, 0x40E00000u);
  EXPECT_EQ(held[1].size, 0x2000u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(straddle) - held[1].start, 0xF00u);
  UnmapRegisterWindow(straddle);
  UnmapRegisterWindow(gpio);
  EXPECT_TRUE(host::Reservations().empty());
}

TEST_F(RegisterWindowTest, RegisterPageReachesCkenItself) {
  // A window 4 bytes into a 64 KB reservation of the clock manager, on CKEN.
  sim::RegisterBackdoor(board().clocks()).Poke(CKEN, 0x12345678);
  RegisterWindow cken = MapRegisterPage(kCkenPhys);
  ASSERT_NE(cken, nullptr);
  auto held = host::Reservations();
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0].size, 0x10000u);
  EXPECT_EQ(held[0].physicalBase, 0x41300000u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(cken) - held[0].start, 4u);
  EXPECT_EQ(RegRead(cken, 0), 0x12345678u);
  UnmapRegisterWindow(cken);
  EXPECT_TRUE(host::Reservations().empty());
  UnmapRegisterWindow(nullptr);  // releases nothing, faults nothing
}

TEST_F(RegisterWindowTest, MappingFailuresReleaseWhatTheyReserved) {
  host::FailVirtualAllocAfter(0);
  EXPECT_EQ(MapPhysicalAddr(0x41900000, 24), nullptr);
  host::FailVirtualCopyAfter(0);
  EXPECT_EQ(MapPhysicalAddr(0x41900000, 24), nullptr);
  host::FailVirtualAllocAfter(0);
  EXPECT_EQ(MapRegisterPage(0x41900000), nullptr);
  host::FailVirtualCopyAfter(0);
  EXPECT_EQ(MapRegisterPage(0x41900000), nullptr);
  EXPECT_TRUE(host::Reservations().empty());
  EXPECT_EQ(console,
            "\tMapPhysicalAddr : Error Return. \r\n"
            "\tMapPhysicalAddr : return false from VirtualCopy(). \r\n"
            "Error! at VirtualAlloc()\r\n"
            "Error! at VirtualCopy()\r\n");
}

class SspSetupTest : public testsupport::BoardTest {};

TEST_F(SspSetupTest, DumpReadsFiveRegistersThroughTheLongLivedWindows) {
  sim::RegisterBackdoor(board().gpio()).Poke(GAFR2_U, 0xA0000001);
  sim::RegisterBackdoor(board().gpio()).Poke(GPDR2, 0x00000002);
  bus().Write32(kSscr0, 0x00000033);
  bus().Write32(kSscr1, 0x00000044);
  bus().Write32(kSspsp, 0x00000055);
  RecordingTrace trace;
  bus().SetTrace(&trace);
  MapSspRegisters();
  bus().SetTrace(nullptr);
  ASSERT_NE(GpioRegPtr, nullptr);
  ASSERT_NE(SspRegPtr, nullptr);
  ASSERT_NE(v_pClkRegs, nullptr);
  EXPECT_EQ(console,
            " InitNSSP: + \r\n"
            "Initial Register values before InitNSP \r\n"
            " SspRegPtr->GAFR2_U= 0xa0000001 \r\n"
            " SspRegPtr->GPDR_2= 0x2 \r\n"
            " SspRegPtr->SSCR0= 0x33 \r\n"
            " SspRegPtr->SSCR1= 0x44 \r\n"
            " SspRegPtr->SSPSP= 0x55 \r\n");
  // One read each, in order; nothing through the clock manager window.
  EXPECT_EQ(Accesses(trace), (std::vector<Access>{{'R', kGafr2U, 0xA0000001},
                                                  {'R', kGpdr2, 2},
                                                  {'R', kSscr0, 0x33},
                                                  {'R', kSscr1, 0x44},
                                                  {'R', kSspsp, 0x55}}));
}

TEST_F(SspSetupTest, DumpSkipsWindowsThatFailedToMap) {
  // GPIO reservation refused, SSP binding refused, the clock window mapped.
  host::FailVirtualAllocAfter(0);
  host::FailVirtualCopyAfter(0);
  RecordingTrace trace;
  bus().SetTrace(&trace);
  MapSspRegisters();
  bus().SetTrace(nullptr);
  EXPECT_EQ(GpioRegPtr, nullptr);
  EXPECT_EQ(SspRegPtr, nullptr);
  EXPECT_NE(v_pClkRegs, nullptr);
  EXPECT_EQ(host::Reservations().size(), 1u);
  EXPECT_TRUE(trace.records.empty());
  EXPECT_EQ(console,
            "\tMapPhysicalAddr : Error Return. \r\n"
            " Error 'cause GpioRegPtr == NULL \r\n"
            "\tMapPhysicalAddr : return false from VirtualCopy(). \r\n"
            " Error 'cause SspRegPtr == NULL \r\n"
            " InitNSSP: + \r\n"
            "Initial Register values before InitNSP \r\n"
            " GAFR2_U and GPDR_2 not read: no GPIO register window \r\n"
            " SSCR0, SSCR1 and SSPSP not read: no SSP3 register window \r\n");
  host::FailVirtualAllocAfter(2);
  console.clear();
  UnmapRegisterWindow(v_pClkRegs);
  v_pClkRegs = nullptr;
  MapSspRegisters();
  EXPECT_EQ(v_pClkRegs, nullptr);
  EXPECT_NE(console.find("\tMapPhysicalAddr : Error Return. \r\n"
                         " Error 'cause v_pClkRegs == NULL \r\n"),
            std::string::npos);
}

TEST_F(SspSetupTest, SetUpPrintsTheProgrammedValuesFromReset) {
  InitNSSP();
  const std::string sssr = console.substr(console.find("SSSR_3"));
  EXPECT_EQ(console.substr(0, console.find("SSSR_3")),
            "GAFR2_U = 0x     154 \r\n"
            "SSCR0_3 = 0x  100337 \r\n"
            "SSCR1_3 = 0x51000000 \r\n"
            "SSPSP_3 = 0x   10000 \r\n"
            "SSRSA_3 = 0x       3 \r\n"
            "GPDR2 = 0x  120000 \r\n");
  EXPECT_NE(sssr.find(" \r\nSSCR0_3 = 0x  1003b7 \r\n InitNSSP: - \r\n"), std::string::npos);
  // Every short-lived window released; the port is enabled and clocked.
  EXPECT_TRUE(host::Reservations().empty());
  EXPECT_TRUE(board().ssp3().Running());
}

TEST_F(SspSetupTest, SetUpTraceKeepsForeignBitsAndFollowsTheOrder) {
  // Seeds with every pin in another function and bits set all around.
  sim::RegisterBackdoor(board().gpio()).Poke(GAFR2_U, 0xAAAAAAAA);
  sim::RegisterBackdoor(board().gpio()).Poke(GPDR2, 0x5555AAAA);
  sim::RegisterBackdoor(board().clocks()).Poke(CKEN, 0x80000A25);
  bus().Write32(kSscr0, 0x0000FFFF);
  bus().Write32(kSscr1, 0xFFFFFFFF);
  RecordingTrace trace;
  bus().SetTrace(&trace);
  InitNSSP();
  bus().SetTrace(nullptr);

  std::vector<Access> got = Accesses(trace);
  // SSSR's status bits depend on the model: take what was read, expect ROR written back set.
  uint32_t sssrRead = 0, sssrPrinted = 0;
  for (size_t i = 0; i + 2 < got.size(); ++i) {
    if (got[i].address == kSssr && got[i].kind == 'R' && got[i + 1].kind == 'W') {
      sssrRead = got[i].value;
      sssrPrinted = got[i + 2].value;
      break;
    }
  }
  const std::vector<Access> expected = {
      {'R', kCken, 0x80000A25},
      {'W', kCken, 0x80000A25},  // SSP3 clock off (already off)
      {'R', kGafr2U, 0xAAAAAAAA},
      {'W', kGafr2U, 0xAAAAAAA2},  // GPIO 81
      {'R', kGafr2U, 0xAAAAAAA2},
      {'W', kGafr2U, 0xAAAAAAA6},
      {'R', kGafr2U, 0xAAAAAAA6},
      {'W', kGafr2U, 0xAAAAAA86},  // GPIO 82
      {'R', kGafr2U, 0xAAAAAA86},
      {'W', kGafr2U, 0xAAAAAA96},
      {'R', kGafr2U, 0xAAAAAA96},
      {'W', kGafr2U, 0xAAAAAA16},  // GPIO 83
      {'R', kGafr2U, 0xAAAAAA16},
      {'W', kGafr2U, 0xAAAAAA56},
      {'R', kGafr2U, 0xAAAAAA56},
      {'W', kGafr2U, 0xAAAAA856},  // GPIO 84
      {'R', kGafr2U, 0xAAAAA856},
      {'W', kGafr2U, 0xAAAAA956},
      {'R', kGafr2U, 0xAAAAA956},  // printed
      {'W', kSscr0, 0},            // SSCR0 from 0
      {'R', kSscr0, 0},
      {'W', kSscr0, 0x30},
      {'R', kSscr0, 0x30},
      {'W', kSscr0, 0x100030},
      {'R', kSscr0, 0x100030},
      {'W', kSscr0, 0x100030},
      {'R', kSscr0, 0x100030},
      {'W', kSscr0, 0x100330},
      {'R', kSscr0, 0x100330},
      {'W', kSscr0, 0x100330},
      {'R', kSscr0, 0x100330},
      {'W', kSscr0, 0x100337},
      {'R', kSscr0, 0x100337},
      {'W', kSscr1, 0},  // SSCR1 from 0
      {'R', kSscr1, 0},
      {'W', kSscr1, 0x10000000},
      {'R', kSscr1, 0x10000000},
      {'W', kSscr1, 0x11000000},
      {'R', kSscr1, 0x11000000},
      {'W', kSscr1, 0x51000000},
      {'R', kSscr1, 0x51000000},
      {'W', kSspsp, 0},
      {'R', kSspsp, 0},
      {'W', kSspsp, 0x10000},
      {'R', kSspsp, 0x10000},
      {'W', kSsrsa, 0},
      {'R', kSsrsa, 0},
      {'W', kSsrsa, 3},
      {'R', kSsrsa, 3},
      {'R', kGpdr2, 0x5555AAAA},
      {'W', kGpdr2, 0x5557AAAA},  // GPIO 81 out
      {'R', kGpdr2, 0x5557AAAA},
      {'W', kGpdr2, 0x5553AAAA},  // GPIO 82 in
      {'R', kGpdr2, 0x5553AAAA},
      {'W', kGpdr2, 0x5553AAAA},  // GPIO 83 in
      {'R', kGpdr2, 0x5553AAAA},
      {'W', kGpdr2, 0x5553AAAA},  // GPIO 84 out
      {'R', kGpdr2, 0x5553AAAA},
      {'R', kSssr, sssrRead},
      {'W', kSssr, sssrRead | SSSR_ROR},
      {'R', kSssr, sssrPrinted},
      {'R', kSscr0, 0x100337},
      {'W', kSscr0, 0x1003B7},
      {'R', kSscr0, 0x1003B7},  // SSE last
      {'R', kCken, 0x80000A25},
      {'W', kCken, 0x80000A35},  // SSP3 clock on
  };
  EXPECT_EQ(got, expected);
  EXPECT_EQ(board().clocks().Cken(), 0x80000A35u);
  EXPECT_TRUE(host::Reservations().empty());
}

TEST_F(SspSetupTest, SetUpSkipsStepsWhoseWindowFailed) {
  // The SSP window's binding fails: pins and clock still programmed, the port not.
  host::FailVirtualCopyAfter(0);
  RecordingTrace trace;
  bus().SetTrace(&trace);
  InitNSSP();
  bus().SetTrace(nullptr);
  for (const auto& r : trace.records) EXPECT_NE(r.address & 0xFFFF0000u, 0x41900000u);
  EXPECT_EQ(console.substr(0, console.find("GAFR2_U")), "Error! at VirtualCopy()\r\n");
  EXPECT_NE(console.find("InitNSSP: no SSP3 window, port not programmed \r\n"), std::string::npos);
  EXPECT_FALSE(board().ssp3().Running());
  EXPECT_TRUE(host::Reservations().empty());

  // SSP reservation refused, CKEN binding refused: only the GPIO steps run.
  console.clear();
  trace.records.clear();
  host::FailVirtualAllocAfter(0);
  host::FailVirtualCopyAfter(0);
  bus().SetTrace(&trace);
  InitNSSP();
  bus().SetTrace(nullptr);
  EXPECT_FALSE(trace.records.empty());
  for (const auto& r : trace.records) EXPECT_EQ(r.address & 0xFFFF0000u, 0x40E00000u);
  EXPECT_EQ(console.substr(0, console.find("InitNSSP: no CKEN")),
            "Error! at VirtualAlloc()\r\nError! at VirtualCopy()\r\n");
  EXPECT_NE(console.find("InitNSSP: no SSP3 window"), std::string::npos);
  EXPECT_NE(console.rfind(" InitNSSP: - \r\n"), std::string::npos);
  EXPECT_TRUE(host::Reservations().empty());
}

}  // namespace
