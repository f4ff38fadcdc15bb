// A line buffer for getdelim: grows as a line needs and is freed on every path.
#ifndef TESVAR_KERNEL_LINE_BUFFER_H
#define TESVAR_KERNEL_LINE_BUFFER_H

#include <sys/types.h>

#include <cstdio>
#include <cstdlib>

namespace tesvar {

constexpr size_t LINE_BUFFER_SIZE = 1024;

class LineBuffer {
public:
    // initial 0 leaves the first allocation to getdelim.
    explicit LineBuffer(size_t initial = 0) noexcept
        : data_(initial != 0 ? static_cast<char *>(std::malloc(initial)) : nullptr),
          size_(data_ != nullptr ? initial : 0) {}
    LineBuffer(const LineBuffer &) = delete;
    LineBuffer &operator=(const LineBuffer &) = delete;
    ~LineBuffer() { std::free(data_); }

    bool allocated() const noexcept { return data_ != nullptr; }
    char *data() const noexcept { return data_; }

    // The next line, its newline included: its length, or -1 at the end of
    // the stream or on a failure.
    ssize_t read(FILE *stream) noexcept { return getdelim(&data_, &size_, '\n', stream); }

private:
    char *data_;
    size_t size_;
};

}  // namespace tesvar

#endif
