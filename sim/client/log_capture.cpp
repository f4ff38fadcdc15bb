// The /dev/log collector. It receives only while holding the capture's
// mutex, so take() (which drains the socket under the same mutex) sees every
// datagram either already captured or still queued, and the order is kept.
// The thread is a plain pthread on the static capture object: a process
// forked from this one (without the thread) then holds no heap block that
// only the thread knew about, which valgrind would report as lost there.
#include "log_capture.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "sys/owned_fd.h"
#include "syslog_format.h"

namespace lkpsim {

using tesvar::Fd;

namespace {

constexpr const char *LOG_SOCKET = "/dev/log";
constexpr std::size_t MAX_DATAGRAM = 65536;

class LogCapture {
public:
    ~LogCapture() { stop(); }

    bool start(std::string *error);
    std::vector<LogLine> take();

private:
    static void *run(void *capture);
    void collect();
    void drain_locked();
    void stop();

    Fd socket_;
    Fd stop_event_;
    pthread_t collector_{};
    bool running_ = false;
    pid_t owner_ = 0;  // the process that runs the collector
    std::mutex mutex_;
    std::vector<LogLine> lines_;
    std::vector<char> buffer_ = std::vector<char>(MAX_DATAGRAM);
};

bool fail(const char *what, std::string *error) {
    *error = std::string(what) + ": " + std::strerror(errno);
    return false;
}

bool LogCapture::start(std::string *error) {
    socket_.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    stop_event_.reset(eventfd(0, EFD_CLOEXEC));
    if (!socket_.valid() || !stop_event_.valid()) {
        return fail("log socket", error);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, LOG_SOCKET, sizeof(address.sun_path) - 1);
    if (bind(socket_.get(), reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        chmod(LOG_SOCKET, 0666) != 0) {
        return fail("bind /dev/log", error);
    }
    owner_ = getpid();
    errno = pthread_create(&collector_, nullptr, &LogCapture::run, this);
    running_ = errno == 0;
    return running_ || fail("log collector", error);
}

void *LogCapture::run(void *capture) {
    static_cast<LogCapture *>(capture)->collect();
    return nullptr;
}

void LogCapture::drain_locked() {
    for (;;) {
        const ssize_t length = recv(socket_.get(), buffer_.data(), buffer_.size(), MSG_DONTWAIT);
        if (length < 0) {
            return;  // EAGAIN: the queue is empty
        }
        lines_.push_back(parse_syslog_datagram({buffer_.data(), static_cast<std::size_t>(length)}));
    }
}

void LogCapture::collect() {
    pollfd watched[2] = {{socket_.get(), POLLIN, 0}, {stop_event_.get(), POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if ((watched[1].revents & POLLIN) != 0) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        drain_locked();
    }
}

std::vector<LogLine> LogCapture::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (socket_.valid()) {
        drain_locked();
    }
    std::vector<LogLine> taken;
    taken.swap(lines_);
    return taken;
}

void LogCapture::stop() {
    // A process forked from the owner has no collector to join, and writing
    // the shared stop event would stop the owner's: its senders would then
    // block on the full socket queue.
    if (!running_ || getpid() != owner_) {
        return;
    }
    running_ = false;
    const std::uint64_t one = 1;
    if (write(stop_event_.get(), &one, sizeof(one)) == sizeof(one)) {
        pthread_join(collector_, nullptr);
    } else {
        pthread_detach(collector_);
    }
}

// Lives until the process exits; its destructor joins the collector.
LogCapture &capture() {
    static LogCapture instance;
    return instance;
}

}  // namespace

bool start_log_capture(std::string *error) {
    return capture().start(error);
}

std::vector<LogLine> take_captured_log() {
    return capture().take();
}

}  // namespace lkpsim
