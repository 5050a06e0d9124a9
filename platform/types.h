// The one source of fixed-width integer types for the system. Visual C++
// before 2010 (the board's compiler is Visual C++ 2008 for ARM) has no
// <stdint.h>; its sized __int types stand in. uintptr_t and intptr_t come
// from its <stddef.h> (crtdefs.h) already. Every other compiler has
// <stdint.h>.
#pragma once

#include <stddef.h>

#if defined(_MSC_VER) && _MSC_VER < 1600

typedef signed __int8 int8_t;
typedef signed __int16 int16_t;
typedef signed __int32 int32_t;
typedef signed __int64 int64_t;
typedef unsigned __int8 uint8_t;
typedef unsigned __int16 uint16_t;
typedef unsigned __int32 uint32_t;
typedef unsigned __int64 uint64_t;

#else

#include <stdint.h>

#endif
