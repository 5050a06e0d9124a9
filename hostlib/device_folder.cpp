#include "hostlib/device_folder.h"

namespace hostlib {
namespace {
std::string root = ".";
std::string* capture = nullptr;
}  // namespace

void SetDeviceRoot(const std::string& r) { root = r; }
const std::string& DeviceRoot() { return root; }
void CaptureConsole(std::string* sink) { capture = sink; }
std::string* ConsoleCapture() { return capture; }

DeviceFolder::DeviceFolder(const std::string& root, std::string* console)
    : previousRoot_(DeviceRoot()), previousConsole_(ConsoleCapture()) {
  SetDeviceRoot(root);
  CaptureConsole(console);
}

DeviceFolder::~DeviceFolder() {
  CaptureConsole(previousConsole_);
  SetDeviceRoot(previousRoot_);
}

}  // namespace hostlib
