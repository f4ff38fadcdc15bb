// init_module and delete_module against the shared module table.
#include "module_calls.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "history.h"
#include "kernel_state.h"
#include "lkpsim/module_image.h"
#include "module_table.h"
#include "transitions.h"

namespace lkpsim {

namespace {

// More than the 255 characters a removal name may have, so that the history
// shows a longer name as it was given.
constexpr std::size_t HISTORY_NAME_MAX = 400;

std::string result_text(int error) {
    return std::to_string(error == 0 ? 0 : -error);
}

void record_init(Kernel *kernel, const std::string &name, int error) {
    append_history(kernel, "init " + name + " " + result_text(error));
}

void record_delete(Kernel *kernel, const std::string &name, unsigned long flags, int error) {
    char flag_text[32];
    std::snprintf(flag_text, sizeof(flag_text), "0x%lx", flags);
    append_history(kernel, "delete " + name + " " + flag_text + " " + result_text(error));
}

// The kernel's checks of a removal before it looks at the module table.
int check_removal(const char *name, unsigned long flags) {
    if (name == nullptr) {
        return EFAULT;
    }
    const std::size_t length = strnlen(name, NAME_SIZE);
    if (length == 0 || length == NAME_SIZE) {
        return ENOENT;
    }
    return (flags & O_NONBLOCK) == 0 ? EINVAL : 0;
}

// Removes the module; an enabled live patch still holds its own module.
int remove_unless_held(Kernel *kernel, const std::string &name) {
    const bool in_transition = patch_in_transition(kernel) == name;
    const Module *module = find_module(kernel, name);
    if (module == nullptr) {
        return ENOENT;
    }
    if (is_upstream_enabled(*kernel, *module)) {
        return EAGAIN;
    }
    if (in_transition) {
        return EBUSY;
    }
    remove_module(kernel, name);
    return 0;
}

// Upstream, inserting a live patch enables it: its transition starts, and
// the insertion fails while another patch is in transition.
int enable_on_insertion(Kernel *kernel, const std::string &name) {
    const Module *module = find_module(kernel, name);
    if (module == nullptr || !is_upstream_enabled(*kernel, *module)) {
        return 0;
    }
    const int error = start_transition(kernel, name, 1);
    if (error != 0) {
        remove_module(kernel, name);
    }
    return error;
}

}  // namespace

int emulate_init_module(const void *image, unsigned long length, const char * /*parameters*/) {
    Kernel *kernel = shared_kernel();
    if (kernel == nullptr) {
        return ENOSYS;
    }
    ModuleInfo info;
    const bool readable = image != nullptr && read_module_image(image, length, &info);
    KernelLock lock(kernel);
    if (!readable) {
        const int error = image == nullptr ? EFAULT : ENOEXEC;
        record_init(kernel, "?", error);
        return error;
    }
    int error = take_fault(&kernel->init_fault, info.name) ? kernel->init_fault.error.get() : 0;
    if (error == 0) {
        error = insert_module(kernel, info);
    }
    if (error == 0) {
        error = enable_on_insertion(kernel, info.name);
    }
    record_init(kernel, info.name, error);
    return error;
}

int emulate_delete_module(const char *name, unsigned long flags) {
    Kernel *kernel = shared_kernel();
    if (kernel == nullptr) {
        return ENOSYS;
    }
    const std::string given =
        name == nullptr ? "?" : std::string(name, strnlen(name, HISTORY_NAME_MAX));
    KernelLock lock(kernel);
    int error = check_removal(name, flags);
    if (error == 0) {
        error = take_fault(&kernel->delete_fault, given) ? kernel->delete_fault.error.get() : 0;
    }
    if (error == 0) {
        error = remove_unless_held(kernel, given);
    }
    record_delete(kernel, given, flags, error);
    return error;
}

}  // namespace lkpsim
