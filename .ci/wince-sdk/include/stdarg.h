// Stand-in for the CE 5.0 SDK's <stdarg.h>: declarations only. The compiler's
// intrinsics stand in for the SDK's ARM va_ macros.
#pragma once

typedef __builtin_va_list va_list;
#define va_start(ap, last) __builtin_va_start(ap, last)
#define va_arg(ap, type) __builtin_va_arg(ap, type)
#define va_end(ap) __builtin_va_end(ap)
