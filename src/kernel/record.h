// One line of the control file ("num,pkg,patch") or of the state file
// ("num<TAB>patch<TAB>state"), parsed into a fixed-size record.
#ifndef TESVAR_KERNEL_RECORD_H
#define TESVAR_KERNEL_RECORD_H

#include <cstdint>

namespace tesvar {

constexpr int NAME_SIZE = 64;  // names: at most 63 characters
constexpr int STATE_SIZE = 9;  // state words: at most 8 characters

constexpr int RECORD_CONTROL = 0;  // comma-separated control-file line
constexpr int RECORD_STATE = 1;    // TAB-separated state-file line

constexpr int STATE_HEAD_LINES = 2;  // the state file's head, before its record lines; never parsed

struct patch_record {
    int32_t num;
    char patch_name[NAME_SIZE];
    // Control-file record: the package name. State-file record: the state
    // word, of which only the first STATE_SIZE bytes are written.
    char pkg_name[NAME_SIZE];

    char *state() noexcept { return pkg_name; }
    const char *state() const noexcept { return pkg_name; }
};

// Cuts line in place and fills record: 0, -257 for a null line, -317 for a
// line without two separators (record untouched).
int parse_record(patch_record *record, char *line, int kind);

}  // namespace tesvar

#endif
