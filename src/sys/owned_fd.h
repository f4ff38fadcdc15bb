// An owned file descriptor, closed exactly once. The one such type of the
// project: the library, lkpctl and the simulated kernel side all use it.
#ifndef TESVAR_SYS_OWNED_FD_H
#define TESVAR_SYS_OWNED_FD_H

#include <unistd.h>

#include <utility>

namespace tesvar {

class Fd {
public:
    explicit Fd(int fd = -1) noexcept : fd_(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd &operator=(Fd &&other) noexcept {
        if (this != &other) {
            close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { close(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    // Gives up ownership (to a stream that now closes it).
    int release() noexcept { return std::exchange(fd_, -1); }
    // close(2)'s result, for files whose contents matter; 0 when nothing is
    // open.
    int close() noexcept { return fd_ >= 0 ? ::close(std::exchange(fd_, -1)) : 0; }
    // Closes what is owned and takes fd instead.
    void reset(int fd = -1) noexcept {
        close();
        fd_ = fd;
    }

private:
    int fd_;
};

}  // namespace tesvar

#endif
