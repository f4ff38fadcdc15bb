// The kernel's files as plain files: the control file, the state file and
// the livepatch tree written to a tmpfs scratch directory and bound over
// the simulated kernel side's views while a PlainKernelView lives, so that
// the measured path has no file server in it. Used by the floor benchmarks.
#ifndef LKPBENCH_PLAIN_KERNEL_H
#define LKPBENCH_PLAIN_KERNEL_H

#include <string>

namespace lkpbench {

// How the arranged patches are switched.
enum class Switching { Alternating, AllEnabled, AllDisabled };

struct PlainScene {
    std::string first_package;
    std::string last_package;
};

// Writes n records (packages of PATCHES_PER_PACKAGE, the first patch of each
// patching COVERED_MODULE, the others "vmlinux") to the plain files; the
// livepatch tree is rebuilt only when n changes.
PlainScene arrange_plain(int n, Switching switching);

// Binds the plain files over the kernel files for its lifetime.
class PlainKernelView {
public:
    PlainKernelView();
    PlainKernelView(const PlainKernelView &) = delete;
    PlainKernelView &operator=(const PlainKernelView &) = delete;
    ~PlainKernelView();

    bool mounted() const { return control_ && state_ && livepatch_; }

private:
    // Each binding is undone only if made: below lie the simulator's own.
    bool control_ = false;
    bool state_ = false;
    bool livepatch_ = false;
};

}  // namespace lkpbench

#endif
