// Splitting one control-file or state-file line into a patch record.
#include "kernel/record.h"

#include <cstdlib>
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

// The head's number, read the same way on every architecture: a 64-bit
// conversion (so a 32-bit long cannot saturate early), then a value outside
// the int32 range is held at the nearest bound rather than wrapped, so a
// corrupt number never turns into a plausible small one.
int32_t record_number(const char *head) {
    const long long value = std::strtoll(head, nullptr, 10);
    constexpr long long LOWEST = std::numeric_limits<int32_t>::min();
    constexpr long long HIGHEST = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value < LOWEST ? LOWEST : value > HIGHEST ? HIGHEST : value);
}

// Copies at most capacity - 1 characters of field; a shorter copy is the
// intended cut, so the copy cannot fail.
void store_field(char *slot, size_t capacity, const char *field) {
    (void)strncpy_s(slot, capacity, field, capacity - 1);
}

}  // namespace

int parse_record(patch_record *record, char *line, int kind) {
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

    record->num = record_number(line);
    if (kind == RECORD_CONTROL) {
        store_field(record->patch_name, NAME_SIZE, last);
        store_field(record->pkg_name, NAME_SIZE, middle);
    } else {
        store_field(record->patch_name, NAME_SIZE, middle);
        store_field(record->state(), STATE_SIZE, last);
    }
    return LKP_OK;
}

}  // namespace tesvar
