#include "board/smartio_binding.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/host/host.h"
#include "platform/host/loader.h"
#include "tests/standin_access.h"

namespace {

const char kLoadingSmartio[] = "\r\nLoading SMARTIO.DLL...\r\n";
const char kSmartioLoaded[] = "\r\nSMARTIO.DLL Loaded successfully...";
const char kNoSmartio[] = "\r\nCan't find SMARTIO.DLL\r\n";
const char kLoadingKeybddr[] = "\r\nLoading KEYBDDR.DLL...\r\n";
const char kKeybddrLoaded[] = "\r\nKEYBDDR.DLL Loaded successfully...\r\n";
const char kNoLibrary[] = "\r\nFailed to load ADSmartIO library!\r\n";
const char kLookup[] = "Loading ADSmartIO functions\r\n";
const char kLookupDone[] = ".  ok\r\n";

class SmartIoBindingTest : public ::testing::Test {
 protected:
  void SetUp() override { host::CaptureConsole(&console); }
  void TearDown() override {
    io.reset();
    host::CaptureConsole(nullptr);
    host::SetLibraryDirectory(std::string());
  }

  // Binds against one folder of stand-ins; the console then holds its construction.
  void Bind(const char* variant) {
    host::SetLibraryDirectory(std::string(PELMOK_STANDIN_DIR) + "/" + variant);
    io = std::make_unique<SmartIoBinding>();
  }
  standin::BoardState& Board() {
    standin::BoardState* state = testsupport::StandinStateOf(io->hLibrary);
    if (state != nullptr) return *state;
    ADD_FAILURE() << "no stand-in library loaded";
    static standin::BoardState none{};
    return none;
  }
  // Console text since the last call.
  std::string Printed() {
    std::string text = console.substr(seen);
    seen = console.size();
    return text;
  }

  std::string console;
  size_t seen = 0;
  std::unique_ptr<SmartIoBinding> io;
};

TEST_F(SmartIoBindingTest, NeitherFileLeavesAnInertBinding) {
  Bind("empty");
  EXPECT_EQ(Printed(), std::string(kLoadingSmartio) + kNoSmartio + kLoadingKeybddr + kNoLibrary);
  EXPECT_EQ(io->bReady, 0);
  EXPECT_EQ(io->hLibrary, nullptr);
  // Every operation falls back silently.
  io->SetBackLight(0);
  io->SetBackLight(1);
  EXPECT_EQ(io->ReadKeypad(), 255);
  EXPECT_EQ(io->ReadPortB(), 255);
  EXPECT_EQ(io->SetKeyPadSize(4, 4), 0u);
  EXPECT_EQ(io->AnalogConversion(0), 0xFFFFu);
  EXPECT_EQ(io->FirmwareVersion(), 0xFFFFu);
  EXPECT_EQ(io->ReadEEPROM(0, 0), 0xFFFFu);
  EXPECT_EQ(io->SetSSPTimeout(5), 0u);
  EXPECT_EQ(Printed(), "");
  // No FreeLibrary at destruction: a FreeLibrary(nullptr) would replace the load's error.
  io.reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(SmartIoBindingTest, SmartioIsTakenFirstAndKeybddrOnlyWithoutIt) {
  // Both present: SMARTIO.DLL, KEYBDDR.DLL never mentioned.
  Bind("full");
  EXPECT_EQ(Printed(), std::string(kLoadingSmartio) + kSmartioLoaded + kLookup + kLookupDone);
  EXPECT_STREQ(Board().libraryName, "SMARTIO.DLL");
  EXPECT_EQ(io->bReady, 1);
  io.reset();
  // Only KEYBDDR.DLL: the look-up runs against it.
  Bind("keybddr-only");
  EXPECT_EQ(Printed(), std::string(kLoadingSmartio) + kNoSmartio + kLoadingKeybddr +
                           kKeybddrLoaded + kLookup + kLookupDone);
  EXPECT_STREQ(Board().libraryName, "KEYBDDR.DLL");
  EXPECT_EQ(io->bReady, 1);
  EXPECT_NE(io->pfnBackLightOFF, nullptr);
}

TEST_F(SmartIoBindingTest, NeverLookedUpEntryPointsAlwaysFallBack) {
  // The library exports both, yet every call reports and falls back.
  Bind("smartio-only");
  Printed();
  for (int call = 0; call < 2; ++call) {
    EXPECT_EQ(io->ReadEEPROM(1, 2), 0xFFFFu);
    EXPECT_EQ(io->SetSSPTimeout(100), 0u);
    EXPECT_EQ(Printed(),
              "SIOReadEEPROM function not available\r\n"
              "SIOSetSSPTimeout function not available\r\n");
  }
  EXPECT_STREQ(Board().callLog, "");
}

TEST_F(SmartIoBindingTest, OperationsHandOverArgumentsAndResults) {
  Bind("full");
  standin::BoardState& board = Board();
  // Port reads keep only the port byte.
  board.pins[1] = 0x134;
  EXPECT_EQ(io->ReadPortB(), 0x34);
  // Directions then a read: output bits come from the latch (0), inputs from the pins.
  io->InitDDRA(0x0F);
  board.pins[0] = 0xA5;
  EXPECT_EQ(io->ReadPortA(), 0xA0);
  EXPECT_EQ(board.ddr[0], 0x0F);
  // 32-bit results pass whole; two-argument calls keep their order.
  board.analog[3] = 0x00012345;
  EXPECT_EQ(io->AnalogConversion(3), 0x00012345u);
  board.firmwareVersion = 0x00010203;
  EXPECT_EQ(io->FirmwareVersion(), 0x00010203u);
  EXPECT_EQ(io->ReadDevicePartType(), board.partType);
  EXPECT_EQ(io->SetKeyPadSize(3, 5), 1u);
  EXPECT_EQ(board.keypadRows, 3);
  EXPECT_EQ(board.keypadColumns, 5);
  board.keypadCode = 0x42;
  EXPECT_EQ(io->ReadKeypad(), 0x42);
  io->SelectOption(2);
  io->BackLightPwm(0x40);
  io->BackLightVEEPwm(0x90);
  EXPECT_EQ(board.selectedOption, 2);
  EXPECT_EQ(board.backlightPwm, 0x40);
  EXPECT_EQ(board.backlightVeePwm, 0x90);
  EXPECT_EQ(Printed(), std::string(kLoadingSmartio) + kSmartioLoaded + kLookup + kLookupDone);
}

TEST_F(SmartIoBindingTest, SetBackLightChoosesItsSlotByTheFlag) {
  Bind("full");
  standin::BoardState& board = Board();
  io->SetBackLight(0);
  EXPECT_EQ(board.backlightOn, 0);
  io->SetBackLight(7);
  EXPECT_EQ(board.backlightOn, 1);
  EXPECT_STREQ(board.callLog, "SIOBackLightOFF() SIOBackLightON() ");
}

TEST_F(SmartIoBindingTest, LibraryLackingBackLightOff) {
  Bind("no-backlight-off");
  EXPECT_EQ(Printed(), std::string(kLoadingSmartio) + kSmartioLoaded + kLookup +
                           "  *Failed to load SIOBackLightOFF: 127" + kLookupDone);
  EXPECT_EQ(io->bReady, 1);
  standin::BoardState& board = Board();
  // Off reports on every call and leaves the light alone; on still works.
  io->SetBackLight(0);
  io->SetBackLight(0);
  EXPECT_EQ(Printed(),
            "SIOBacklightOFF function not available\r\n"
            "SIOBacklightOFF function not available\r\n");
  EXPECT_EQ(board.backlightOn, 1);
  board.backlightOn = 0;
  io->SetBackLight(1);
  EXPECT_EQ(Printed(), "");
  EXPECT_EQ(board.backlightOn, 1);
  EXPECT_STREQ(board.callLog, "SIOBackLightON() ");
}

TEST_F(SmartIoBindingTest, PartialLibrariesReportEachMissingEntryPoint) {
  // Consecutive failures share a line; each direction of SetBackLight has its own text.
  Bind("no-backlight");
  EXPECT_EQ(Printed(), std::string(kLoadingSmartio) + kSmartioLoaded + kLookup +
                           "  *Failed to load SIOBackLightON: 127"
                           "  *Failed to load SIOBackLightOFF: 127" +
                           kLookupDone);
  io->SetBackLight(1);
  EXPECT_EQ(Printed(), "SIOBacklightON function not available\r\n");
  io->SetBackLight(0);
  EXPECT_EQ(Printed(), "SIOBacklightOFF function not available\r\n");
  io.reset();

  Bind("partial");
  EXPECT_EQ(Printed(), std::string(kLoadingSmartio) + kSmartioLoaded + kLookup +
                           "  *Failed to load SIOSelectOption: 127"
                           "  *Failed to load SIOReadKeypad: 127"
                           "  *Failed to load SIOAnalogConversion: 127"
                           "  *Failed to load SIOFirmwareVersion: 127" +
                           kLookupDone);
  io->SelectOption(1);
  EXPECT_EQ(io->ReadKeypad(), 255);
  EXPECT_EQ(io->AnalogConversion(0), 0xFFFFu);
  EXPECT_EQ(io->FirmwareVersion(), 0xFFFFu);
  EXPECT_EQ(Printed(),
            "SIOSelectOption function not available\r\n"
            "SIOReadKeypad function not available\r\n"
            "SIOAnalogConversion function not available\r\n"
            "SIOFirmwareVersion function not available\r\n");
  // What the library does have still reaches it.
  Board().pins[3] = 0x7E;
  EXPECT_EQ(io->ReadPortD(), 0x7E);
  EXPECT_STREQ(Board().callLog, "SIOReadPortD() ");
}

}  // namespace
