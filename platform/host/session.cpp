#include "platform/host/session.h"

#include "platform/host/host.h"
#include "platform/host/loader.h"

namespace host {

Session::Session(sim::Board& board, const SessionOptions& options)
    : previousBoard_(AttachedBoard()),
      previousDeviceRoot_(DeviceRoot()),
      previousLibraryDirectory_(LibraryDirectory()) {
  AttachBoard(&board);
  SetDeviceRoot(options.deviceRoot);
  SetLibraryDirectory(options.libraryDirectory);
  CaptureConsole(options.console);
}

Session::~Session() {
  CaptureConsole(nullptr);
  SetLibraryDirectory(previousLibraryDirectory_);
  SetDeviceRoot(previousDeviceRoot_);
  AttachBoard(previousBoard_);
}

}  // namespace host
