// Access to the shared kernel block: created once by lkpsim::enter(), mapped
// lazily by every other process of the namespace, and locked for every change.
#ifndef LKPSIM_KERNEL_STATE_H
#define LKPSIM_KERNEL_STATE_H

#include <string_view>

#include "kernel_layout.h"

namespace lkpsim {

// Where the block lives: a tmpfs that only the namespace sees.
constexpr const char *KERNEL_STATE_DIR = "/run/lkpsim/state";
constexpr const char *KERNEL_STATE_FILE = "/run/lkpsim/state/kernel";

// Creates the block in KERNEL_STATE_FILE and publishes it to this process;
// false (with errno) when that fails.
bool create_kernel();

// This process's mapping of the block, or null outside the namespace.
Kernel *shared_kernel();

// Opens this process's own description of the block's file for its lock
// (again after a fork, which shares the parent's); done when the block is
// created or attached, so the descriptor exists before any test counts them.
void open_kernel_lock();

// Holds the block's lock: a thread mutex within the process and an open file
// description lock (F_OFD_SETLKW) on the block's file between processes,
// which works alike for native and emulated processes and is released by the
// kernel when a holder dies. There is one block per namespace, so `kernel`
// only names what the caller is about to change. Never hold it across file
// access to the kernel files, whose server needs the same lock.
class KernelLock {
public:
    explicit KernelLock(const Kernel *kernel);
    ~KernelLock();
    KernelLock(const KernelLock &) = delete;
    KernelLock &operator=(const KernelLock &) = delete;
};

// Fixed-size name slots.
bool set_name(Name *slot, std::string_view text);  // false when too long
std::string_view name_of(const Name &slot);
bool name_is(const Name &slot, std::string_view text);

// Disarms the fault when it is armed for `name` (a fault without a name is
// armed for any); true when it did, and the event then fails with its errno.
bool take_fault(Fault *fault, std::string_view name);

// Sets the default kernel: manager loaded, default targets, nothing else.
void reset_kernel(Kernel *kernel);

}  // namespace lkpsim

#endif
