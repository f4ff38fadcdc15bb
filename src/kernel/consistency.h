// The consistency check of the control file against the state file, which
// also yields a package's state word (the state of its last patch).
#ifndef TESVAR_KERNEL_CONSISTENCY_H
#define TESVAR_KERNEL_CONSISTENCY_H

namespace tesvar {

struct list_head;

constexpr const char *STATE_UNKNOWN = "unknown";
constexpr const char *STATE_ENABLED = "enabled";
constexpr const char *STATE_DISABLED = "disabled";

// How many of a package's patches the state file calls "enabled", taken from
// the same reading as the state word.
struct EnabledCount {
    int patches = 0;  // the package's records in the control file
    int enabled = 0;  // those whose (last) state line says "enabled"
};

// 0 with the package's state word in state (9 bytes) when the files agree;
// -262 when a file cannot be opened; -257 otherwise. Files that disagree
// are read again, up to three readings in all, since another caller may
// have changed them between the two opens; only the last reading's failure
// is logged. With `enabled` set, it also counts the package's enabled
// patches.
//
// With `patch_list` set, the package's patches are also appended to it in
// control-file order, from the same reading, when the files agree; *listed
// then tells whether every one of them could be appended.
int check_record_available(const char *pkg_name, char *state, EnabledCount *enabled = nullptr,
                           list_head *patch_list = nullptr, bool *listed = nullptr);

}  // namespace tesvar

#endif
