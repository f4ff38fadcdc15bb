// One line of the control file ("num,pkg,patch") or of the state file
// ("num<TAB>patch<TAB>state"), parsed into a fixed-size record.
#ifndef TESVAR_KERNEL_RECORD_H
#define TESVAR_KERNEL_RECORD_H

#include <cstddef>
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

// The fields of a record line cut in place exactly as parse_record cuts
// them, but not copied: for the readers that only compare most fields.
// Control line: middle is the package, last the patch. State line: middle
// is the patch, last the state word.
struct record_fields {
    char *head;  // where the number is read from
    char *middle;
    char *last;
};

// The same results as parse_record; fields untouched on failure.
int split_record(record_fields *fields, char *line, int kind);

// Whether field, cut as parse_record would store it in a slot of `capacity`
// bytes, equals name over the slot's bytes (as strncmp(slot, name,
// capacity) == 0 would say).
bool field_is(const char *field, size_t capacity, const char *name);

// Copies field as parse_record would store it in a slot of `capacity` bytes.
void store_field(char *slot, size_t capacity, const char *field);

// The record number of a head field, as parse_record reads it.
int32_t record_number(const char *head);

}  // namespace tesvar

#endif
