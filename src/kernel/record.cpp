// Splitting one control-file or state-file line into a patch record.
#include "kernel/record.h"

#include <cstring>
#include <limits>

#include "frame/bounded.h"
#include "frame/result_codes.h"

namespace tesvar {

namespace {

constexpr char CONTROL_SEPARATOR = ',';
constexpr char STATE_SEPARATOR = '\t';

// Cuts the line at its last separator and returns the field after it, itself
// cut at its first blank; NULL when the line holds no separator.
char *take_last_field(char *line, char separator) {
    char *cut = std::strrchr(line, separator);
    if (cut == nullptr) {
        return nullptr;
    }
    *cut = '\0';
    char *field = cut + 1;
    char *blank = std::strchr(field, ' ');
    if (blank != nullptr) {
        *blank = '\0';
    }
    return field;
}

}  // namespace

// The head's number, read the same way on every architecture and as
// strtoll reads it (leading white space, an optional sign, decimal digits),
// but a value outside the int32 range is held at the nearest bound rather
// than wrapped, so a corrupt number never turns into a plausible small one.
// Written out because a general conversion was most of a record's cost.
int32_t record_number(const char *head) {
    while (*head == ' ' || (*head >= '\t' && *head <= '\r')) {
        ++head;
    }
    const bool negative = *head == '-';
    if (*head == '-' || *head == '+') {
        ++head;
    }
    // One past the largest magnitude: enough to saturate either bound.
    constexpr int64_t LIMIT = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; *head >= '0' && *head <= '9'; ++head) {
        if (magnitude < LIMIT) {
            magnitude = magnitude * 10 + (*head - '0');
        }
    }
    if (negative) {
        return magnitude >= LIMIT ? std::numeric_limits<int32_t>::min()
                                  : static_cast<int32_t>(-magnitude);
    }
    return magnitude >= LIMIT ? std::numeric_limits<int32_t>::max()
                              : static_cast<int32_t>(magnitude);
}

// Copies at most capacity - 1 characters of field; a shorter copy is the
// intended cut, so the copy cannot fail.
void store_field(char *slot, size_t capacity, const char *field) {
    (void)strncpy_s(slot, capacity, field, capacity - 1);
}

int split_record(record_fields *fields, char *line, int kind) {
    if (line == nullptr) {
        return LKP_INVALID_ARGUMENT;
    }
    size_t length = std::strlen(line);
    if (length == 0) {
        return LKP_KERNEL_UNKNOWN;
    }
    // Drops the newline; a line without one loses its last real character.
    line[length - 1] = '\0';

    char separator = kind == RECORD_CONTROL ? CONTROL_SEPARATOR : STATE_SEPARATOR;
    char *last = take_last_field(line, separator);
    if (last == nullptr) {
        return LKP_KERNEL_UNKNOWN;
    }
    char *middle = take_last_field(line, separator);
    if (middle == nullptr) {
        return LKP_KERNEL_UNKNOWN;
    }
    *fields = record_fields{line, middle, last};
    return LKP_OK;
}

bool field_is(const char *field, size_t capacity, const char *name) {
    const size_t length = strnlen(field, capacity - 1);
    return std::strncmp(field, name, length) == 0 && name[length] == '\0';
}

int parse_record(patch_record *record, char *line, int kind) {
    record_fields fields{};
    const int rc = split_record(&fields, line, kind);
    if (rc != LKP_OK) {
        return rc;
    }
    record->num = record_number(fields.head);
    if (kind == RECORD_CONTROL) {
        store_field(record->patch_name, NAME_SIZE, fields.last);
        store_field(record->pkg_name, NAME_SIZE, fields.middle);
    } else {
        store_field(record->patch_name, NAME_SIZE, fields.middle);
        store_field(record->state(), STATE_SIZE, fields.last);
    }
    return LKP_OK;
}

}  // namespace tesvar
