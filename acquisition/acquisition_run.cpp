#include "acquisition/acquisition_run.h"

#include <cstdio>
#include <cstdlib>

#include "acquisition/configuration.h"
#include "datafiles/data_files.h"
#include "hardware/register_windows.h"
#include "hardware/ssp3.h"
#include "platform/types.h"

namespace {

// The board's allocator takes sizes as 32-bit numbers: a count above this
// (every negative count included) asks for more than the address space, so it
// is refused here on every platform alike.
const uint32_t kMaxRecordWords = 0x3FFFFFFF;

// Zero-filled, so words that no read reached are written as 0, never as
// stale heap content.
uint32_t* AllocateRecordBuffer(int32_t samplesPerRecord) {
  const uint32_t words = static_cast<uint32_t>(samplesPerRecord);
  if (words > kMaxRecordWords) return NULL;
  // One word at least, so an empty record still has a buffer to write from.
  return static_cast<uint32_t*>(std::calloc(words > 0 ? words : 1, sizeof(uint32_t)));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  std::printf("\r\nPrototype Pelmok Data Acq program\r\n");
  std::fflush(stdout);
  NKDbgPrintfW(L"\r\nPrototype Pelmok Data Acq program\r\n");

  AcquisitionConfig config = {};
  ReadConfiguration(config);
  MapSspRegisters();
  InitNSSP();

  for (int32_t file = 0; file < config.filesPerUsbWrite; ++file) {
    uint32_t* record = AllocateRecordBuffer(config.samplesPerRecord);
    if (record == NULL) {
      NKDbgPrintfW(L"Cannot allocate a record of %d samples: nothing read or written\n",
                   config.samplesPerRecord);
    } else {
      // Each record overwrites the one before; only the last one is written.
      for (int32_t r = 0; r < config.recordsPerFile; ++r) {
        ReadSspSamples(record, config.samplesPerRecord);
        NKDbgPrintfW(L"Record Count = %d\n", r);
      }
      if (config.sleepSeconds > 0) WriteRecord(record, config.samplesPerRecord);
      std::free(record);
    }
    NKDbgPrintfW(L"File Count = %d\n", file);
  }

  // The long-lived windows start on a page boundary, so each is its
  // reservation's start; a window that never mapped releases nothing.
  UnmapRegisterWindow(v_pClkRegs);
  UnmapRegisterWindow(SspRegPtr);
  UnmapRegisterWindow(GpioRegPtr);
  return 0;
}
