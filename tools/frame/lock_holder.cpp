// Reading /proc/locks and /proc/PID/stat for the tool lock's holder.
#include "lock_holder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
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
    // has "->" after the number, so its second word is not FLOCK.
    char file_id[64];
    (void)std::snprintf(file_id, sizeof file_id, "%02x:%02x:%lu", major(status.st_dev),
                        minor(status.st_dev), static_cast<unsigned long>(status.st_ino));
    std::istringstream lines(proc_text("/proc/locks"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string number;
        std::string kind;
        std::string mode;
        std::string access;
        std::string pid;
        std::string id;
        if (words >> number >> kind >> mode >> access >> pid >> id && kind == "FLOCK" &&
            id == file_id) {
            char *end = nullptr;
            const long holder = std::strtol(pid.c_str(), &end, 10);
            if (*end == '\0' && holder > 0) {
                return static_cast<pid_t>(holder);
            }
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
