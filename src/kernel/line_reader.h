// Lines of a stream read in large blocks and cut where they lie: the same
// lines as getdelim(..., '\n', ...) would return one by one, without
// copying each into a line buffer of its own.
#ifndef TESVAR_KERNEL_LINE_READER_H
#define TESVAR_KERNEL_LINE_READER_H

#include <cstddef>
#include <cstdio>

namespace tesvar {

class LineReader {
public:
    explicit LineReader(FILE *stream) noexcept;
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;
    ~LineReader();

    bool allocated() const noexcept { return data_ != nullptr; }

    // The next line, its newline included, NUL-terminated in place (until
    // the next call); NULL at the end of the stream, on a read failure, or
    // when a longer line cannot be held; a failure after part of a line
    // yields that part first, as getdelim does.
    char *next() noexcept;
    // strlen() of the line last returned, known without scanning it.
    size_t length() const noexcept { return length_; }

private:
    enum class Fill { Read, Failed };
    Fill fill() noexcept;
    char *cut(size_t after) noexcept;
    size_t find_nul(size_t from) const noexcept;
    void restore() noexcept;

    FILE *stream_;
    char *data_;
    size_t capacity_;   // bytes of text the block holds (one more is allocated)
    size_t begin_ = 0;  // the next line's first byte
    size_t end_ = 0;    // one past the last byte read
    bool ended_ = false;
    bool failed_ = false;
    size_t length_ = 0;
    // The first NUL byte at or after begin_ among the bytes read; lines
    // before it have no NUL, so their length is known.
    size_t nul_at_;
    // The byte that the terminator of the line last returned replaced.
    size_t saved_at_;
    char saved_ = '\0';
};

}  // namespace tesvar

#endif
