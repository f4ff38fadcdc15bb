// Reading a stream's lines in blocks.
#include "kernel/line_reader.h"

#include <cstdlib>
#include <cstring>

namespace tesvar {

namespace {

constexpr size_t BLOCK_SIZE = 4096;
constexpr size_t NOTHING_SAVED = static_cast<size_t>(-1);

}  // namespace

LineReader::LineReader(FILE *stream) noexcept
    : stream_(stream),
      data_(static_cast<char *>(std::malloc(BLOCK_SIZE + 1))),
      capacity_(BLOCK_SIZE),
      nul_at_(NOTHING_SAVED),
      saved_at_(NOTHING_SAVED) {}

LineReader::~LineReader() {
    std::free(data_);
}

char *LineReader::next() noexcept {
    if (data_ == nullptr) {
        return nullptr;
    }
    restore();
    for (;;) {
        const size_t unread = end_ - begin_;
        const void *newline = std::memchr(data_ + begin_, '\n', unread);
        if (newline != nullptr) {
            return cut(static_cast<size_t>(static_cast<const char *>(newline) - data_) + 1);
        }
        if (ended_ || failed_) {
            // As getdelim after a failure: the part read so far, and a later
            // call tries again.
            failed_ = false;
            return unread == 0 ? nullptr : cut(end_);
        }
        failed_ = fill() == Fill::Failed;
    }
}

// Keeps the unread part, moved to the block's start, and reads after it;
// the block doubles when a line fills it.
LineReader::Fill LineReader::fill() noexcept {
    if (begin_ > 0) {
        std::memmove(data_, data_ + begin_, end_ - begin_);
        end_ -= begin_;
        if (nul_at_ != NOTHING_SAVED) {
            nul_at_ -= begin_;
        }
        begin_ = 0;
    }
    if (end_ == capacity_) {
        void *grown = std::realloc(data_, capacity_ * 2 + 1);
        if (grown == nullptr) {
            return Fill::Failed;
        }
        data_ = static_cast<char *>(grown);
        capacity_ *= 2;
    }
    const size_t wanted = capacity_ - end_;
    const size_t got = std::fread(data_ + end_, 1, wanted, stream_);
    const size_t first_new = end_;
    end_ += got;
    if (nul_at_ == NOTHING_SAVED) {
        nul_at_ = find_nul(first_new);
    }
    if (got == wanted) {
        return Fill::Read;
    }
    // The end stays the end (the C library's end-of-file is sticky too); a
    // failure does not.
    if (std::feof(stream_) != 0) {
        ended_ = true;
        return Fill::Read;
    }
    std::clearerr(stream_);
    return Fill::Failed;
}

size_t LineReader::find_nul(size_t from) const noexcept {
    const void *nul = std::memchr(data_ + from, '\0', end_ - from);
    return nul == nullptr ? NOTHING_SAVED
                          : static_cast<size_t>(static_cast<const char *>(nul) - data_);
}

char *LineReader::cut(size_t after) noexcept {
    char *line = data_ + begin_;
    length_ = after - begin_;
    if (nul_at_ != NOTHING_SAVED && nul_at_ < after) {
        length_ = static_cast<size_t>(nul_at_ - begin_);
        nul_at_ = find_nul(after);
    }
    saved_ = data_[after];
    saved_at_ = after;
    data_[after] = '\0';
    begin_ = after;
    return line;
}

void LineReader::restore() noexcept {
    if (saved_at_ != NOTHING_SAVED) {
        data_[saved_at_] = saved_;
        saved_at_ = NOTHING_SAVED;
    }
}

}  // namespace tesvar
