// The board program's image: WinMain once on the device folder's
// configuration, then EnterLowPower with mode 1 and with mode 0.
#include "acquisition/acquisition_run.h"
#include "board/low_power.h"
#include "platform/baremetal/baremetal.h"

int RunImage() {
  WCHAR commandLine[] = L"";
  const int status = WinMain(NULL, NULL, commandLine, 0);
  EnterLowPower(1);
  EnterLowPower(0);
  return status;
}
