// The shared kernel block: its file and its mapping.
#include "kernel_state.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "module_table.h"
#include "sys/owned_fd.h"
#include "transitions.h"

namespace lkpsim {

using tesvar::Fd;

namespace {

std::atomic<Kernel *> g_kernel{nullptr};

const char *const DEFAULT_TARGETS[] = {"vmlinux", "ext4", "nfs", "tcp_cubic"};

Kernel *map_kernel(int fd) {
    void *address = mmap(nullptr, sizeof(Kernel), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return address == MAP_FAILED ? nullptr : static_cast<Kernel *>(address);
}

// Maps an existing block; null when there is none (outside the namespace) or
// when it is not ours.
Kernel *attach_kernel() {
    Fd fd(open(KERNEL_STATE_FILE, O_RDWR | O_CLOEXEC));
    struct stat status {};
    if (!fd.valid() || fstat(fd.get(), &status) != 0 ||
        static_cast<std::size_t>(status.st_size) != sizeof(Kernel)) {
        return nullptr;
    }
    Kernel *kernel = map_kernel(fd.get());
    if (kernel != nullptr &&
        (kernel->magic.get() != KERNEL_MAGIC || kernel->version.get() != KERNEL_LAYOUT_VERSION)) {
        munmap(kernel, sizeof(Kernel));
        return nullptr;
    }
    return kernel;
}

}  // namespace

bool create_kernel() {
    Fd fd(open(KERNEL_STATE_FILE, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid() || ftruncate(fd.get(), sizeof(Kernel)) != 0) {
        return false;
    }
    Kernel *kernel = map_kernel(fd.get());
    if (kernel == nullptr) {
        return false;
    }
    reset_kernel(kernel);
    kernel->version.set(KERNEL_LAYOUT_VERSION);
    kernel->magic.set(KERNEL_MAGIC);
    open_kernel_lock();
    g_kernel.store(kernel, std::memory_order_release);
    return true;
}

Kernel *shared_kernel() {
    Kernel *kernel = g_kernel.load(std::memory_order_acquire);
    if (kernel != nullptr) {
        return kernel;
    }
    static std::once_flag once;
    std::call_once(once, [] {
        Kernel *attached = attach_kernel();
        Kernel *expected = nullptr;
        if (attached != nullptr && !g_kernel.compare_exchange_strong(expected, attached)) {
            munmap(attached, sizeof(Kernel));
        }
        if (attached != nullptr) {
            open_kernel_lock();
        }
    });
    return g_kernel.load(std::memory_order_acquire);
}

bool set_name(Name *slot, std::string_view text) {
    if (text.size() >= NAME_SIZE) {
        return false;
    }
    std::memset(slot->text, 0, NAME_SIZE);
    std::memcpy(slot->text, text.data(), text.size());
    return true;
}

std::string_view name_of(const Name &slot) {
    return {slot.text, strnlen(slot.text, NAME_SIZE)};
}

bool name_is(const Name &slot, std::string_view text) {
    return name_of(slot) == text;
}

bool take_fault(Fault *fault, std::string_view name) {
    const std::string_view armed_for = name_of(fault->name);
    if (fault->armed == 0 || (!armed_for.empty() && armed_for != name)) {
        return false;
    }
    fault->armed = 0;
    return true;
}

void reset_kernel(Kernel *kernel) {
    kernel->record_count.set(0);
    kernel->module_count.set(1);
    Module &manager = kernel->modules[0];
    std::memset(&manager, 0, sizeof(manager));
    set_name(&manager.name, MANAGER_MODULE);
    kernel->loaded_target_count.set(0);
    for (const char *target : DEFAULT_TARGETS) {
        set_name(&kernel->loaded_targets[kernel->loaded_target_count.add(1)], target);
    }
    kernel->manager_refused = 0;
    kernel->state_file_present = 1;
    kernel->op_fault = Fault{};
    kernel->enable_fault = Fault{};
    kernel->init_fault = Fault{};
    kernel->delete_fault = Fault{};
    kernel->history_total.set(0);
    kernel->raw_control.set = 0;
    kernel->raw_state.set = 0;
    kernel->enable_on_insert = 0;
    reset_transitions(kernel);
}

}  // namespace lkpsim
