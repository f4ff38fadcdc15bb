// Bounded copies and formatting. Kept inside the library's namespace so they
// can never clash with a system library that has the same names.
#ifndef TESVAR_FRAME_BOUNDED_H
#define TESVAR_FRAME_BOUNDED_H

#include <cstdarg>
#include <cstddef>

namespace tesvar {

// Copies count bytes into dest (capacity destMax). 0, or a positive error
// code (EINVAL for a null pointer, ERANGE when count exceeds destMax,
// EOVERLAP-like EINVAL for overlapping areas).
int memcpy_s(void *dest, size_t destMax, const void *src, size_t count);

// Copies at most count characters of src and a NUL into dest. 0, or a
// positive error code when an argument is null or the copy does not fit.
int strncpy_s(char *dest, size_t destMax, const char *src, size_t count);

// Writes at most count characters and a NUL into dest (count < destMax).
// Returns the number of characters written, or -1 on truncation or error.
int snprintf_s(char *dest, size_t destMax, size_t count, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
int vsnprintf_s(char *dest, size_t destMax, size_t count, const char *format, va_list arguments)
    __attribute__((format(printf, 4, 0)));

}  // namespace tesvar

#endif
