#include "hardware/register_windows.h"

#include "platform/kernel.h"

RegisterWindow GpioRegPtr = NULL;
RegisterWindow SspRegPtr = NULL;
RegisterWindow v_pClkRegs = NULL;

namespace {

const uint32_t kPageMask = 0xFFFFF000u;
const uint32_t kRegisterPageSpan = 0x10000;
// PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL: the source of VirtualCopy is
// then the physical address shifted right by 8 bits.
const DWORD kPhysicalBinding = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;

LPVOID PhysicalSource(uint32_t pageAddress) {
  return reinterpret_cast<LPVOID>(static_cast<uintptr_t>(pageAddress >> 8));
}

RegisterWindow WindowAt(LPVOID start, uint32_t offsetInPage) {
  return reinterpret_cast<RegisterWindow>(reinterpret_cast<uintptr_t>(start) + offsetInPage);
}

}  // namespace

RegisterWindow MapPhysicalAddr(uint32_t physicalAddress, int32_t size) {
  const uint32_t page = physicalAddress & kPageMask;
  const uint32_t offset = physicalAddress - page;
  const DWORD bound = (static_cast<uint32_t>(size) + offset + 0xFFFu) & kPageMask;

  LPVOID start = VirtualAlloc(NULL, bound, MEM_RESERVE, PAGE_NOACCESS);
  if (start == NULL) {
    NKDbgPrintfW(L"\tMapPhysicalAddr : Error Return. \r\n");
    return NULL;
  }
  if (!VirtualCopy(start, PhysicalSource(page), bound, kPhysicalBinding)) {
    NKDbgPrintfW(L"\tMapPhysicalAddr : return false from VirtualCopy(). \r\n");
    VirtualFree(start, 0, MEM_RELEASE);
    return NULL;
  }
  return WindowAt(start, offset);
}

RegisterWindow MapRegisterPage(uint32_t physicalAddress) {
  LPVOID start = VirtualAlloc(NULL, kRegisterPageSpan, MEM_RESERVE, PAGE_NOACCESS);
  if (start == NULL) {
    NKDbgPrintfW(L"Error! at VirtualAlloc()\r\n");
    return NULL;
  }
  if (!VirtualCopy(start, PhysicalSource(physicalAddress & kPageMask), kRegisterPageSpan,
                   kPhysicalBinding)) {
    NKDbgPrintfW(L"Error! at VirtualCopy()\r\n");
    VirtualFree(start, 0, MEM_RELEASE);
    return NULL;
  }
  return WindowAt(start, physicalAddress & 0xFFFu);
}

void UnmapRegisterWindow(RegisterWindow window) {
  if (window == NULL) return;
  const uintptr_t start = reinterpret_cast<uintptr_t>(window) & ~static_cast<uintptr_t>(0xFFF);
  VirtualFree(reinterpret_cast<LPVOID>(start), 0, MEM_RELEASE);
}
