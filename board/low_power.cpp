#include "board/low_power.h"

#include <new>

#include "board/smartio_binding.h"
#include "hardware/pxa27x_ac97_regs.h"
#include "hardware/pxa27x_clock_regs.h"
#include "hardware/register_windows.h"
#include "platform/kernel.h"

namespace {

// A codec command and the link shut-off each complete within an AC-link frame
// or two (21 us a frame); even with no console in between, this many polls
// are hundreds of frames. A codec that never answers must not hang the board.
const int32_t kStatusPollBudget = 0x4000;

// Polls GSR until `bit` is up or the budget is spent; false if it never came.
// Each poll that finds the bit clear prints `pollLine` (when given) with a
// second, fresh reading, as the board's console has always shown the codec
// and link waits.
bool WaitForStatus(RegisterWindow ac97, uint32_t bit, const wchar_t* pollLine,
                   const wchar_t* gaveUpLine) {
  int32_t polls = 0;
  while ((RegRead(ac97, GSR) & bit) == 0) {
    if (polls++ == kStatusPollBudget) {
      NKDbgPrintfW(gaveUpLine, kStatusPollBudget);
      return false;
    }
    if (pollLine != NULL) NKDbgPrintfW(pollLine, static_cast<int>(RegRead(ac97, GSR) & bit));
  }
  return true;
}

}  // namespace

void EnterLowPower(int32_t mode) {
  SmartIoBinding* io = new (std::nothrow) SmartIoBinding;
  if (io == NULL) {
    NKDbgPrintfW(L"Out of memory\r\n");
    return;
  }

  if (mode != 1) {
    io->SetBackLight(1);
    delete io;
    return;
  }

  io->SetBackLight(0);

  RegisterWindow ac97 = MapRegisterPage(kAc97Phys);
  if (ac97 == NULL) {
    // Stopping the controller's clocks under a live link would leave the codec
    // clocking a controller that no longer listens; leave both as they are.
    NKDbgPrintfW(L"EnterLowPower: AC97 controller not mapped, AC-link left on\r\n");
    delete io;
    return;
  }

  // A codec register read through the controller only starts an AC-link read
  // and returns the data of the previous one; the new data is there once
  // SDONE rises. The link carries one codec access at a time and drops one
  // that starts while another is on it, so the read that returns the data is
  // waited for too before the write. CDONE and SDONE are sticky, so each is
  // cleared before the access whose completion it must report.
  const wchar_t* const sdoneGaveUp = L"AC97 GSR Register SDONE wait gave up after %d polls\r\n";
  RegWrite(ac97, GSR, GSR_CDONE | GSR_SDONE);
  RegRead(ac97, kPrimaryCodecPowerdown);
  const bool fetched = WaitForStatus(ac97, GSR_SDONE, NULL, sdoneGaveUp);
  RegWrite(ac97, GSR, GSR_CDONE | GSR_SDONE);
  const uint32_t powerdown = RegRead(ac97, kPrimaryCodecPowerdown);
  const bool linkFree = WaitForStatus(ac97, GSR_SDONE, NULL, sdoneGaveUp);
  if (fetched && linkFree) {
    RegWrite(ac97, GSR, GSR_CDONE | GSR_SDONE);
    RegWrite(ac97, kPrimaryCodecPowerdown, powerdown | AC97_PR4);
    WaitForStatus(ac97, GSR_CDONE, L"AC97 GSR Register CDONE = %d\n",
                  L"AC97 GSR Register CDONE wait gave up after %d polls\r\n");
  } else {
    // Without the first read's SDONE the data is not the register's, and
    // writing it back would set the codec's other power-down bits at random;
    // without the second's, the write would be dropped. The controller's
    // own shut-off below still stops the link.
    NKDbgPrintfW(L"EnterLowPower: codec read not completed, codec power-down not written\r\n");
  }

  RegSet(ac97, GCR, GCR_ACLINK_OFF);

  RegisterWindow cken = MapRegisterPage(kCkenPhys);
  if (cken != NULL) {
    RegSet(cken, 0, CKEN_AC97CONF);
    UnmapRegisterWindow(cken);
  } else {
    NKDbgPrintfW(L"EnterLowPower: CKEN not mapped, AC97 configuration clock not enabled\r\n");
  }

  WaitForStatus(ac97, GSR_ACOFFD, L"AC97 GSR Register ACOFFD= %d\n",
                L"AC97 GSR Register ACOFFD wait gave up after %d polls\r\n");

  UnmapRegisterWindow(ac97);

  cken = MapRegisterPage(kCkenPhys);
  if (cken != NULL) {
    // Two separate cycles: bit 31 first, then bit 2, each read afresh.
    RegClear(cken, 0, CKEN_AC97CONF);
    RegClear(cken, 0, CKEN_AC97);
    UnmapRegisterWindow(cken);
  } else {
    NKDbgPrintfW(L"EnterLowPower: CKEN not mapped, AC97 clocks left running\r\n");
  }

  delete io;
}
