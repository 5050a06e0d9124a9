#include "hardware/pxa27x_ssp_regs.h"
#include "hardware/register_windows.h"
#include "hardware/ssp3.h"
#include "platform/kernel.h"

// Busy-waits on RNE: each poll is a fresh uncached read of SSSR and each
// sample one read of SSDR, so exactly one FIFO entry is taken per RNE seen.
// The budget is a count of polls, not a time.
//
// ROR is sticky: it is cleared (write 1) as soon as a poll shows it, so the
// next overrun shows too; the console hears of it once per record. After a
// time-out the words not reached are zeroed, so no sample of an earlier
// record in a reused buffer is ever written as if it were new.
int32_t ReadSspSamples(uint32_t* buffer, int32_t count) {
  if (count > 0 && SspRegPtr == NULL) {
    NKDbgPrintfW(L"Read SSP skipped: no SSP register window\n");
    return -1;
  }
  bool overrunReported = false;
  for (int32_t i = 0; i < count; ++i) {
    uint32_t budget = kSspPollBudget;
    for (;;) {
      const uint32_t status = RegRead(SspRegPtr, SSSR);
      if ((status & SSSR_ROR) != 0) {
        RegWrite(SspRegPtr, SSSR, SSSR_ROR);
        if (!overrunReported) NKDbgPrintfW(L"Read SSP overrun: samples lost\n");
        overrunReported = true;
      }
      if ((status & SSSR_RNE) != 0) break;
      if (budget == 0) {
        NKDbgPrintfW(L"Read SSP timed out with RNE = 0\n");
        for (int32_t k = i; k < count; ++k) buffer[k] = 0;
        return -1;
      }
      --budget;
    }
    buffer[i] = RegRead(SspRegPtr, SSDR);
  }
  return count < 0 ? 0 : count;
}
