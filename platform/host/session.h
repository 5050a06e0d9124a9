// One host program's (or test's) hold on the platform layer: while a Session
// lives, the register accessors and the clock rest on its board, the debug
// console goes where it says, and the device's volumes and the vendor
// library come from its folders. Ending it undoes all of that and puts back
// what was there before.
#pragma once

#include <string>

namespace sim {
class Board;
}

namespace host {

struct SessionOptions {
  std::string deviceRoot = ".";
  // Folder searched for the vendor library; empty loads none.
  std::string libraryDirectory;
  // Debug console text is appended here; nullptr leaves it on standard error.
  std::string* console = nullptr;
};

class Session {
 public:
  Session(sim::Board& board, const SessionOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

 private:
  sim::Board* previousBoard_;
  std::string previousDeviceRoot_;
  std::string previousLibraryDirectory_;
};

}  // namespace host
