// The Windows CE kernel calls the program uses (COREDLL), and the handful of
// types and constants they need. On the board they come from the CE headers;
// everywhere else the declarations below stand in for them and platform/host
// implements them over the simulated board.
#pragma once

#include "platform/types.h"

#if defined(UNDER_CE)

#include <windows.h>
#include <pkfuncs.h>  // VirtualCopy, NKDbgPrintfW

#else

typedef int BOOL;
typedef uint32_t DWORD;
typedef void* LPVOID;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef int (*FARPROC)();
#define WINAPI
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define MEM_RESERVE 0x2000
#define MEM_RELEASE 0x8000
#define PAGE_NOACCESS 0x01
#define PAGE_READWRITE 0x04
#define PAGE_NOCACHE 0x200
#define PAGE_PHYSICAL 0x400

#define ERROR_MOD_NOT_FOUND 126
#define ERROR_PROC_NOT_FOUND 127

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect);
// With PAGE_PHYSICAL the source is a physical address shifted right by 8 bits.
BOOL VirtualCopy(LPVOID dest, LPVOID source, DWORD size, DWORD protect);
BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType);

void NKDbgPrintfW(LPCWSTR format, ...);

HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName);
BOOL FreeLibrary(HMODULE module);
DWORD GetLastError();

#endif
