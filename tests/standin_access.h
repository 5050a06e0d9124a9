// The simulated board state inside a loaded stand-in vendor library.
#pragma once

#include "platform/kernel.h"
#include "sim/standin/standin_state.h"

namespace testsupport {

inline standin::BoardState* StandinStateOf(HMODULE library) {
  const FARPROC accessor = GetProcAddressW(library, L"StandinState");
  if (accessor == nullptr) return nullptr;
  return reinterpret_cast<StandinStateProc>(reinterpret_cast<void (*)()>(accessor))();
}

}  // namespace testsupport
