// Counting replacements of malloc, calloc, realloc, free and the aligned
// allocators; they forward to the C library's own implementation.
#include "heap_meter.h"

#include <malloc.h>

#include <cerrno>
#include <cstdint>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *pointer);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)

namespace lkpbench {
bool heap_meter_available() {
    return false;
}
void heap_meter_start() {}
std::size_t heap_meter_stop() {
    return 0;
}
}  // namespace lkpbench

#else

namespace {

// Only the measuring thread counts; it is the only one that touches these.
thread_local bool counting = false;
thread_local std::int64_t held = 0;
thread_local std::int64_t peak = 0;

void count_in(void *pointer) {
    if (counting && pointer != nullptr) {
        held += static_cast<std::int64_t>(malloc_usable_size(pointer));
        if (held > peak) {
            peak = held;
        }
    }
}

void count_out(void *pointer) {
    if (counting && pointer != nullptr) {
        held -= static_cast<std::int64_t>(malloc_usable_size(pointer));
    }
}

}  // namespace

extern "C" {

void *malloc(size_t size) {
    void *pointer = __libc_malloc(size);
    count_in(pointer);
    return pointer;
}

void *calloc(size_t count, size_t size) {
    void *pointer = __libc_calloc(count, size);
    count_in(pointer);
    return pointer;
}

void *realloc(void *pointer, size_t size) {
    count_out(pointer);
    void *moved = __libc_realloc(pointer, size);
    // A failed realloc keeps the old block.
    count_in(moved != nullptr || size == 0 ? moved : pointer);
    return moved;
}

void free(void *pointer) {
    count_out(pointer);
    __libc_free(pointer);
}

void *memalign(size_t alignment, size_t size) {
    void *pointer = __libc_memalign(alignment, size);
    count_in(pointer);
    return pointer;
}

void *aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}

int posix_memalign(void **result, size_t alignment, size_t size) {
    void *pointer = memalign(alignment, size);
    if (pointer == nullptr) {
        return ENOMEM;
    }
    *result = pointer;
    return 0;
}

}  // extern "C"

namespace lkpbench {

bool heap_meter_available() {
    return true;
}

void heap_meter_start() {
    held = 0;
    peak = 0;
    counting = true;
}

std::size_t heap_meter_stop() {
    counting = false;
    return static_cast<std::size_t>(peak);
}

}  // namespace lkpbench

#endif
