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

// The two last fields of a record line, located but neither cut nor
// copied: for the readers that only compare most of them. A field runs to
// the separator after it (or the line's end) and, as parse_record stores
// it, ends at its first blank and holds at most a slot's capacity - 1
// characters. Control line: middle is the package, last the patch. State
// line: middle is the patch, last the state word.
struct field_span {
    const char *text;
    size_t length;  // up to the separator or the end; the blank not yet applied
};
struct record_spans {
    field_span middle;
    field_span last;
};

// The same results as parse_record on the same line, whose strlen() is
// `length`; spans untouched on failure. The line is not changed.
int locate_fields(record_spans *spans, const char *line, size_t length, int kind);

// Whether the field, as parse_record would store it in a slot of `capacity`
// bytes, equals name over the slot's bytes (strncmp(slot, name, capacity)).
bool field_is(const field_span &field, size_t capacity, const char *name);

// field_is for one name against many fields, with the name measured once.
class field_name {
public:
    field_name(const char *name, size_t capacity) noexcept;
    bool matches(const field_span &field) const noexcept;

private:
    const char *name_;
    size_t length_;
    size_t capacity_;
    bool possible_;  // no slot can equal a name with a blank or too long
};

// Stores the field as parse_record would in a slot of `capacity` bytes.
void store_span(char *slot, size_t capacity, const field_span &field);

// Copies field as parse_record would store it in a slot of `capacity` bytes.
void store_field(char *slot, size_t capacity, const char *field);

// The record number of a head field, as parse_record reads it.
int32_t record_number(const char *head);

}  // namespace tesvar

#endif
