// Bounded copies and formatting: never write past destMax, report truncation.
#include "frame/bounded.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tesvar {
namespace {

// Whether [a, a + aSize) and [b, b + bSize) share a byte.
bool overlaps(const void *a, size_t aSize, const void *b, size_t bSize) {
    const auto first = reinterpret_cast<uintptr_t>(a);
    const auto second = reinterpret_cast<uintptr_t>(b);
    return first < second ? second - first < aSize : first - second < bSize;
}

}  // namespace

int memcpy_s(void *dest, size_t destMax, const void *src, size_t count) {
    if (dest == nullptr || src == nullptr) {
        return EINVAL;
    }
    if (count > destMax) {
        return ERANGE;
    }
    if (count == 0) {
        return 0;
    }
    if (overlaps(dest, count, src, count)) {
        return EINVAL;
    }
    std::memcpy(dest, src, count);
    return 0;
}

int strncpy_s(char *dest, size_t destMax, const char *src, size_t count) {
    if (dest == nullptr || destMax == 0) {
        return EINVAL;
    }
    if (src == nullptr) {
        dest[0] = '\0';
        return EINVAL;
    }
    const size_t length = strnlen(src, count);
    if (length >= destMax) {
        dest[0] = '\0';
        return ERANGE;
    }
    if (overlaps(dest, length + 1, src, length + 1)) {
        dest[0] = '\0';
        return EINVAL;
    }
    std::memcpy(dest, src, length);
    dest[length] = '\0';
    return 0;
}

int vsnprintf_s(char *dest, size_t destMax, size_t count, const char *format, va_list arguments) {
    if (dest == nullptr || destMax == 0) {
        return -1;
    }
    if (format == nullptr || count >= destMax) {
        dest[0] = '\0';
        return -1;
    }
    const int written = std::vsnprintf(dest, count + 1, format, arguments);
    // A text longer than count is a failure, not a shortened success.
    if (written < 0 || static_cast<size_t>(written) > count) {
        dest[0] = '\0';
        return -1;
    }
    return written;
}

int snprintf_s(char *dest, size_t destMax, size_t count, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int written = vsnprintf_s(dest, destMax, count, format, arguments);
    va_end(arguments);
    return written;
}

}  // namespace tesvar
