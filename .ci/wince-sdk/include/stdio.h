// Stand-in for the CE 5.0 SDK's <stdio.h>: declarations only. The CE runtime
// has the stream calls and the printf family, but of the bounded ones only
// _snprintf and _vsnprintf (no snprintf or vsnprintf); no remove, rename,
// tmpfile or perror.
#pragma once

#include <stddef.h>
#include <stdarg.h>

typedef struct _iobuf FILE;

#define EOF (-1)
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#define BUFSIZ 512
#define _IOFBF 0x0000
#define _IOLBF 0x0040
#define _IONBF 0x0004

extern "C" {
FILE* _getstdfilex(int n);
#define stdin (_getstdfilex(0))
#define stdout (_getstdfilex(1))
#define stderr (_getstdfilex(2))

FILE* fopen(const char* filename, const char* mode);
int fclose(FILE* stream);
int fflush(FILE* stream);
size_t fread(void* buffer, size_t size, size_t count, FILE* stream);
size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream);
int fseek(FILE* stream, long offset, int origin);
long ftell(FILE* stream);
int feof(FILE* stream);
int ferror(FILE* stream);
void clearerr(FILE* stream);
int fgetc(FILE* stream);
int fputc(int c, FILE* stream);
char* fgets(char* string, int n, FILE* stream);
int fputs(const char* string, FILE* stream);
int getc(FILE* stream);
int putc(int c, FILE* stream);
int getchar(void);
int putchar(int c);
int ungetc(int c, FILE* stream);
int setvbuf(FILE* stream, char* buffer, int mode, size_t size);

int printf(const char* format, ...);
int fprintf(FILE* stream, const char* format, ...);
int sprintf(char* buffer, const char* format, ...);
int _snprintf(char* buffer, size_t count, const char* format, ...);
int vprintf(const char* format, va_list argptr);
int vfprintf(FILE* stream, const char* format, va_list argptr);
int vsprintf(char* buffer, const char* format, va_list argptr);
int _vsnprintf(char* buffer, size_t count, const char* format, va_list argptr);
int scanf(const char* format, ...);
int fscanf(FILE* stream, const char* format, ...);
int sscanf(const char* buffer, const char* format, ...);
}
