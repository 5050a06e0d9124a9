// Stand-in for the CE 5.0 SDK's <string.h>: declarations only. The CE runtime
// has no strerror (it has no errno).
#pragma once

#include <stddef.h>

extern "C" {
void* memcpy(void* dest, const void* src, size_t count);
void* memmove(void* dest, const void* src, size_t count);
void* memset(void* dest, int c, size_t count);
int memcmp(const void* buf1, const void* buf2, size_t count);
void* memchr(const void* buf, int c, size_t count);
size_t strlen(const char* string);
char* strcpy(char* dest, const char* src);
char* strncpy(char* dest, const char* src, size_t count);
char* strcat(char* dest, const char* src);
char* strncat(char* dest, const char* src, size_t count);
int strcmp(const char* string1, const char* string2);
int strncmp(const char* string1, const char* string2, size_t count);
int _stricmp(const char* string1, const char* string2);
int _strnicmp(const char* string1, const char* string2, size_t count);
char* strchr(const char* string, int c);
char* strrchr(const char* string, int c);
char* strstr(const char* string, const char* strSearch);
size_t strspn(const char* string, const char* strCharSet);
size_t strcspn(const char* string, const char* strCharSet);
char* strpbrk(const char* string, const char* strCharSet);
char* strtok(char* strToken, const char* strDelimit);
}
