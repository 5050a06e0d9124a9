// Stand-in for the CE 5.0 SDK's <stdlib.h>: declarations only. The CE runtime
// has no getenv, system, errno or _sys_errlist.
#pragma once

#include <stddef.h>

#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
#define RAND_MAX 0x7fff

extern "C" {
void* malloc(size_t size);
void* calloc(size_t count, size_t size);
void* realloc(void* block, size_t size);
void free(void* block);
void abort(void);
void exit(int status);
int atexit(void (*function)(void));
int abs(int n);
long labs(long n);
int atoi(const char* string);
long atol(const char* string);
double atof(const char* string);
long strtol(const char* string, char** end, int base);
unsigned long strtoul(const char* string, char** end, int base);
double strtod(const char* string, char** end);
int rand(void);
void srand(unsigned int seed);
void qsort(void* base, size_t count, size_t width, int (*compare)(const void*, const void*));
void* bsearch(const void* key, const void* base, size_t count, size_t width,
              int (*compare)(const void*, const void*));
char* _itoa(int value, char* string, int radix);
char* _ltoa(long value, char* string, int radix);
char* _ultoa(unsigned long value, char* string, int radix);
}
