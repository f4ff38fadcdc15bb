// sim_module_call init FILE | delete NAME [FLAGS] | log TEXT
// Makes one call the way the library does and exits with its errno (0 for
// success), so a test can see what a subprocess's call met.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

int init_from_file(const char *path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
        return errno;
    }
    const auto length = static_cast<size_t>(status.st_size);
    void *image = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (image == MAP_FAILED) {
        return errno;
    }
    const int result = syscall(SYS_init_module, image, length, "") == 0 ? 0 : errno;
    munmap(image, length);
    return result;
}

int delete_by_name(const char *name, const char *flags) {
    const unsigned long value = flags == nullptr ? 0x880UL : std::strtoul(flags, nullptr, 0);
    return syscall(SYS_delete_module, name, value) == 0 ? 0 : errno;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 3 && std::strcmp(argv[1], "init") == 0) {
        return init_from_file(argv[2]);
    }
    if (argc >= 3 && std::strcmp(argv[1], "delete") == 0) {
        return delete_by_name(argv[2], argc >= 4 ? argv[3] : nullptr);
    }
    if (argc >= 3 && std::strcmp(argv[1], "log") == 0) {
        syslog(LOG_INFO, "%s", argv[2]);
        return 0;
    }
    return 255;
}
