// Reading /proc/locks and /proc/PID/stat for the tool lock's holder.
#include "lock_holder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace lkpctl {
namespace {

// The whole text of a /proc file (small), or "".
std::string proc_text(const char *path) {
    FILE *file = std::fopen(path, "re");
    if (file == nullptr) {
        return "";
    }
    std::string text;
    char buffer[4096];
    for (size_t length; (length = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, length);
    }
    (void)std::fclose(file);
    return text;
}

}  // namespace

pid_t flock_holder(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        return -1;
    }
    // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:5678 0 EOF"; a waiter's line
    // has "->" after the number and is not a holder.
    char file_id[64];
    (void)std::snprintf(file_id, sizeof file_id, "%02x:%02x:%lu", major(status.st_dev),
                        minor(status.st_dev), static_cast<unsigned long>(status.st_ino));
    const std::string locks = proc_text("/proc/locks");
    size_t start = 0;
    while (start < locks.size()) {
        size_t end = locks.find('\n', start);
        if (end == std::string::npos) {
            end = locks.size();
        }
        const std::string line = locks.substr(start, end - start);
        start = end + 1;
        char kind[16] = {};
        char id[64] = {};
        long pid = -1;
        if (line.find("->") == std::string::npos &&
            std::sscanf(line.c_str(), "%*d: %15s %*s %*s %ld %63s", kind, &pid, id) == 3 &&
            std::strcmp(kind, "FLOCK") == 0 && std::strcmp(id, file_id) == 0 && pid > 0) {
            return static_cast<pid_t>(pid);
        }
    }
    return -1;
}

bool stopped_by_job_control(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const std::string stat = proc_text(path.c_str());
    // "PID (COMM) STATE ...": COMM may hold anything, so after the last ')'.
    const size_t name_end = stat.rfind(')');
    return name_end != std::string::npos && name_end + 2 < stat.size() && stat[name_end + 2] == 'T';
}

}  // namespace lkpctl
