/* Standard-library style helpers exported under "my_" names. They let the runtime format
 * argument lists handed over by the media libraries' log callback with the same C runtime. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

FILE* my_fopen(const char* path, const char* mode) { return fopen(path, mode); }
int my_fclose(FILE* stream) { return fclose(stream); }
size_t my_fread(void* ptr, size_t size, size_t count, FILE* stream) { return fread(ptr, size, count, stream); }
size_t my_fwrite(const void* ptr, size_t size, size_t count, FILE* stream)
{
    return fwrite(ptr, size, count, stream);
}
int my_fseek(FILE* stream, long offset, int whence) { return fseek(stream, offset, whence); }
long my_ftell(FILE* stream) { return ftell(stream); }

int my_fprintf(FILE* stream, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vfprintf(stream, format, args);
    va_end(args);
    return n;
}

int my_snprintf(char* buffer, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, size, format, args);
    va_end(args);
    return n;
}

/* Unbounded like its standard counterpart: the caller provides a buffer large enough. */
int my_vsprintf(char* buffer, const char* format, va_list args) { return vsprintf(buffer, format, args); }

double my_strtod(const char* text, char** end) { return strtod(text, end); }
long my_strtol(const char* text, char** end, int base) { return strtol(text, end, base); }
char* my_strtok(char* text, const char* delimiters) { return strtok(text, delimiters); }
