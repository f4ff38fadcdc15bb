// Owning types for the resources the library touches, so that "released on
// every path" holds by construction.
#ifndef TESVAR_SYS_OWNED_H
#define TESVAR_SYS_OWNED_H

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "sys/owned_fd.h"

namespace tesvar {

struct FreeDeleter {
    void operator()(void *pointer) const noexcept { std::free(pointer); }
};

// A malloc'ed block (strings made by helpers, line buffers, list heads).
template <typename T>
using HeapPtr = std::unique_ptr<T, FreeDeleter>;
using HeapText = HeapPtr<char>;

// A FILE stream closed exactly once, with fclose's answer kept.
class Stream {
public:
    explicit Stream(FILE *stream = nullptr) noexcept : stream_(stream) {}
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;
    Stream(Stream &&other) noexcept : stream_(std::exchange(other.stream_, nullptr)) {}
    ~Stream() { close(); }

    FILE *get() const noexcept { return stream_; }
    explicit operator bool() const noexcept { return stream_ != nullptr; }
    // fclose's result: 0, or EOF; 0 when already closed.
    int close() noexcept { return stream_ ? std::fclose(std::exchange(stream_, nullptr)) : 0; }

private:
    FILE *stream_;
};

// A directory stream.
class DirStream {
public:
    explicit DirStream(DIR *dir = nullptr) noexcept : dir_(dir) {}
    DirStream(const DirStream &) = delete;
    DirStream &operator=(const DirStream &) = delete;
    ~DirStream() { close(); }

    DIR *get() const noexcept { return dir_; }
    explicit operator bool() const noexcept { return dir_ != nullptr; }
    // closedir's result; 0 when already closed.
    int close() noexcept { return dir_ ? closedir(std::exchange(dir_, nullptr)) : 0; }

private:
    DIR *dir_;
};

// A read-only mapping of a whole file.
class Mapping {
public:
    Mapping(void *address, size_t length) noexcept : address_(address), length_(length) {}
    Mapping(const Mapping &) = delete;
    Mapping &operator=(const Mapping &) = delete;
    ~Mapping() {
        if (address_ != MAP_FAILED && address_ != nullptr) {
            munmap(address_, length_);
        }
    }

    bool valid() const noexcept { return address_ != MAP_FAILED && address_ != nullptr; }
    const void *data() const noexcept { return address_; }
    size_t size() const noexcept { return length_; }

private:
    void *address_;
    size_t length_;
};

}  // namespace tesvar

#endif
