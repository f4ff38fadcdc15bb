// Module insertion and removal through the C library's syscall(), and the
// patch manager module's presence.
#include "kernel/modules.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "frame/bounded.h"
#include "frame/log.h"
#include "kernel/kernel_paths.h"
#include "sys/file_access.h"
#include "sys/owned.h"
#include "sys/text_buffer.h"
#include "tesvar.h"

// The module calls' numbers on the first platform, 32-bit PowerPC.
#if defined(__powerpc__) && !defined(__powerpc64__)
static_assert(SYS_init_module == 128 && SYS_delete_module == 129,
              "32-bit PowerPC numbers the module calls 128 and 129");
#endif
// Module files over 2 GiB must not fail fstat with EOVERFLOW on 32-bit targets.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");

namespace tesvar {

namespace {

constexpr size_t MODULE_NAME_SIZE = 256;  // at most 255 characters
constexpr const char *MODULE_PARAMETERS = "";

// 0, or the negated errno of the failed call; errno is read before anything
// else can change it.
int32_t syscall_result(long result) {
    return result == 0 ? 0 : -errno;
}

// The kernel's name for a module file name: up to the first '.', at most 255
// characters, '-' stored as '_'.
void module_name_of(const char *name, char *module) {
    size_t length = 0;
    for (; length < MODULE_NAME_SIZE - 1 && name[length] != '\0' && name[length] != '.'; ++length) {
        module[length] = name[length] == '-' ? '_' : name[length];
    }
    module[length] = '\0';
}

}  // namespace

int load_tesvar_kcore() {
    if (is_file_existent(CONTROL_FILE) == 1) {
        return 1;
    }
    struct utsname identity {};
    if (uname(&identity) != 0) {
        lkp_log(LKP_ERR, "load_tesvar_kcore: Failed to get the kernel versin.");
        return 0;
    }
    char path[PATH_BUFFER_SIZE];
    const int length = snprintf_s(path, sizeof(path), sizeof(path) - 1, MANAGER_MODULE_FORMAT,
                                  identity.release, MANAGER_MODULE_FILE);
    if (!is_whole_text(length, PATH_BUFFER_SIZE)) {
        lkp_log(LKP_ERR, "load_tesvar_kcore: Faield to snprintf.");
        return 0;
    }
    // EEXIST: another caller inserted it meanwhile.
    const int32_t inserted = navo_lkp_insmod(path);
    if (inserted != 0 && inserted != -EEXIST) {
        lkp_log(LKP_ERR, "load_tesvar_kcore: Failed to load tesvar.ko.");
        return 0;
    }
    return 1;
}

}  // namespace tesvar

using tesvar::Fd;
using tesvar::Mapping;

extern "C" TESVAR_API int32_t navo_lkp_insmod(const char *path) {
    errno = 0;
    // O_NONBLOCK: a FIFO must not hold the call in open().
    Fd file(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) {
        return -errno;
    }
    struct stat status {};
    if (fstat(file.get(), &status) != 0) {
        return -errno;
    }
    // Only a regular file is a module image; anything else is answered as a
    // directory always was, with ENODEV.
    if (!S_ISREG(status.st_mode)) {
        return -ENODEV;
    }
    const auto length = static_cast<size_t>(status.st_size);
    Mapping image(mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.get(), 0), length);
    const int map_error = errno;
    // The mapping stays valid without the descriptor.
    file.close();
    if (!image.valid()) {
        return -map_error;
    }
    return tesvar::syscall_result(
        syscall(SYS_init_module, image.data(), image.size(), tesvar::MODULE_PARAMETERS));
}

extern "C" TESVAR_API int32_t navo_lkp_rmmod(const char *name) {
    char module[tesvar::MODULE_NAME_SIZE] = {};
    errno = 0;
    // A null name still goes to the kernel, which refuses it.
    const char *target = nullptr;
    if (name != nullptr) {
        tesvar::module_name_of(name, module);
        target = module;
    }
    return tesvar::syscall_result(
        syscall(SYS_delete_module, target, static_cast<unsigned long>(tesvar::REMOVAL_FLAGS)));
}
