// An owned file descriptor, closed exactly once; close() reports the result
// for files whose contents matter.
#ifndef LKPCTL_UNIQUE_FD_H
#define LKPCTL_UNIQUE_FD_H

#include <unistd.h>

#include <utility>

namespace lkpctl {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    UniqueFd(UniqueFd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other) {
            close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~UniqueFd() { close(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    // close(2)'s result; 0 when nothing is open.
    int close() noexcept { return fd_ >= 0 ? ::close(std::exchange(fd_, -1)) : 0; }

private:
    int fd_;
};

}  // namespace lkpctl

#endif
