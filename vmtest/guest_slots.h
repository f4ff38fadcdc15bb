// The packages of the operators' suite and what they show: lkp_slots.ko
// has six functions, /proc/lkp_slots a line for each ("slot<n> original");
// triple_a.tar.gz patches slots 1-3 and triple_b.tar.gz slots 4-6, one
// patch module per slot ("slot<n> fixed"), and cumulative.tar.gz is one
// patch of all six with atomic replace ("slot<n> cumulative").
#pragma once

#include <string>
#include <vector>

namespace guest {

struct SlotPackage {
    std::string name;                  // the package file's name
    std::vector<std::string> patches;  // its patch modules, in load order
};

extern const SlotPackage TRIPLE_A;
extern const SlotPackage TRIPLE_B;
extern const SlotPackage CUMULATIVE;

// The package file in the guest.
std::string package_path(const SlotPackage &package);
// The control file's lines of the package, as the library writes them.
std::string records_of(const SlotPackage &package);
// The lines of the control file that belong to the package, in order.
std::string records_in(const std::string &control_text, const SlotPackage &package);

// /proc/lkp_slots when slots 1-3 say `first` and 4-6 say `second`.
std::string slots_saying(const std::string &first, const std::string &second);
// /proc/lkp_slots now (a failure when it cannot be read).
std::string slots_now();

// Whether /sys/kernel/livepatch/<patch> exists.
bool patch_listed(const std::string &patch);

// None of the packages' modules loaded, no record, no /tmp/lkp_* left.
void check_no_package_left();

// What a scenario must leave after its last step: nothing of the packages
// (as above), once transitions end every slot "original", nothing in the
// operators' store, no update module pending record or work directory.
void check_left_clean();

// After a failed case: every patch of the three packages out by hand, the
// operators' store and the update module's pending record emptied, the
// patch manager removed, so that one failure does not spread to the next
// case.
void reset_packages();

}  // namespace guest
