// Stand-in for the CE 5.0 SDK's <stddef.h> (crtdefs.h): declarations only.
#pragma once

typedef unsigned int size_t;
typedef int ptrdiff_t;
typedef int intptr_t;
typedef unsigned int uintptr_t;

#ifndef NULL
#define NULL 0
#endif

#define offsetof(s, m) ((size_t) & reinterpret_cast<const volatile char&>((((s*)0)->m)))
