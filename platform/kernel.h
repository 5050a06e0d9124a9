// The Windows CE kernel calls the program uses (COREDLL), and the handful of
// types and constants they need, with the CE 5.0 signatures and layouts. On the board they come
// from the CE headers; everywhere else the declarations below stand in for them and platform/host
// implements them over the simulated board.
#pragma once

#include "platform/types.h"

#if defined(UNDER_CE)

// Only what a CE 5.0 application SDK ships; VirtualCopy's prototype is
// Platform Builder's, so platform/wince declares it.
#include <dbgapi.h>  // NKDbgPrintfW
#include <windows.h>
#include "platform/wince/kernel_calls.h"

#else

typedef int BOOL;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
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

#define TIME_ZONE_ID_UNKNOWN 0
#define TIME_ZONE_ID_STANDARD 1
#define TIME_ZONE_ID_DAYLIGHT 2
#define TIME_ZONE_ID_INVALID 0xFFFFFFFF

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;      // 1 = January
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

// UTC = local time + Bias (+ StandardBias or DaylightBias), in minutes. The
// dates are the changes to standard and to daylight time; with wYear 0 they
// recur yearly on the wDay-th (5: the last) wDayOfWeek of wMonth at
// wHour:wMinute local time. DaylightDate.wMonth 0: no daylight saving.
typedef struct _TIME_ZONE_INFORMATION {
  LONG Bias;
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
} TIME_ZONE_INFORMATION, *LPTIME_ZONE_INFORMATION;

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect);
// With PAGE_PHYSICAL the source is a physical address shifted right by 8 bits.
BOOL VirtualCopy(LPVOID dest, LPVOID source, DWORD size, DWORD protect);
BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType);

void NKDbgPrintfW(LPCWSTR format, ...);

HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName);
BOOL FreeLibrary(HMODULE module);
DWORD GetLastError();

// The system clock, in UTC.
void GetSystemTime(LPSYSTEMTIME systemTime);
// The device's time-zone setting; returns a TIME_ZONE_ID_ value.
DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION timeZoneInformation);

#endif
