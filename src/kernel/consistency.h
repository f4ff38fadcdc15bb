// The consistency check of the control file against the state file, which
// also yields a package's state word (the state of its last patch).
#ifndef TESVAR_KERNEL_CONSISTENCY_H
#define TESVAR_KERNEL_CONSISTENCY_H

namespace tesvar {

constexpr const char *STATE_UNKNOWN = "unknown";
constexpr const char *STATE_ENABLED = "enabled";
constexpr const char *STATE_DISABLED = "disabled";

// 0 with the package's state word in state (9 bytes) when the files agree;
// -262 when a file cannot be opened; -257 otherwise.
int check_record_available(const char *pkg_name, char *state);

}  // namespace tesvar

#endif
