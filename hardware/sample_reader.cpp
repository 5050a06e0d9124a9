#include "hardware/pxa27x_ssp_regs.h"
#include "hardware/register_windows.h"
#include "hardware/ssp3.h"
#include "platform/kernel.h"

// Busy-waits on RNE: each poll is a fresh uncached read of SSSR and each
// sample one read of SSDR, so exactly one FIFO entry is taken per RNE seen.
// The budget is a count of polls, not a time.
int32_t ReadSspSamples(uint32_t* buffer, int32_t count) {
  if (count > 0 && SspRegPtr == NULL) {
    NKDbgPrintfW(L"Read SSP skipped: no SSP register window\n");
    return -1;
  }
  for (int32_t i = 0; i < count; ++i) {
    uint32_t budget = kSspPollBudget;
    while ((RegRead(SspRegPtr, SSSR) & SSSR_RNE) == 0) {
      if (budget == 0) {
        NKDbgPrintfW(L"Read SSP timed out with RNE = 0\n");
        return -1;
      }
      --budget;
    }
    buffer[i] = RegRead(SspRegPtr, SSDR);
  }
  return count < 0 ? 0 : count;
}
