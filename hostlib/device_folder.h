// The host folder that stands for the board's device, and where the board's
// debug console goes: held here, below the host platform that opens device
// paths under it and the host tools that run one of the board's routines on a
// folder of their own (its configuration reader on a staged file).
#pragma once

#include <string>

namespace hostlib {

// "\Hard Disk\x" opens "<root>/Hard Disk/x"; "." until set.
void SetDeviceRoot(const std::string& root);
const std::string& DeviceRoot();

// Debug console text goes to standard error unless captured here; nullptr
// ends the capture.
void CaptureConsole(std::string* sink);
std::string* ConsoleCapture();

// For the life of the object: the device is `root`, the console text goes
// to *console; both as they were after.
class DeviceFolder {
 public:
  DeviceFolder(const std::string& root, std::string* console);
  ~DeviceFolder();
  DeviceFolder(const DeviceFolder&) = delete;
  DeviceFolder& operator=(const DeviceFolder&) = delete;

 private:
  std::string previousRoot_;
  std::string* previousConsole_;
};

}  // namespace hostlib
