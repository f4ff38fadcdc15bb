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

int locate_fields(record_spans *spans, const char *line, size_t length, int kind) {
    if (line == nullptr) {
        return LKP_INVALID_ARGUMENT;
    }
    if (length == 0) {
        return LKP_KERNEL_UNKNOWN;
    }
    // The last character (the newline) is dropped, as parse_record drops it.
    const size_t kept = length - 1;
    const int separator =
        static_cast<unsigned char>(kind == RECORD_CONTROL ? CONTROL_SEPARATOR : STATE_SEPARATOR);
    const auto *last = static_cast<const char *>(memrchr(line, separator, kept));
    if (last == nullptr) {
        return LKP_KERNEL_UNKNOWN;
    }
    const size_t before_last = static_cast<size_t>(last - line);
    const auto *middle = static_cast<const char *>(memrchr(line, separator, before_last));
    if (middle == nullptr) {
        return LKP_KERNEL_UNKNOWN;
    }
    spans->middle = field_span{middle + 1, before_last - static_cast<size_t>(middle + 1 - line)};
    spans->last = field_span{last + 1, kept - before_last - 1};
    return LKP_OK;
}

bool field_is(const field_span &field, size_t capacity, const char *name) {
    const size_t limit = field.length < capacity - 1 ? field.length : capacity - 1;
    size_t i = 0;
    // A shorter name stops the loop at its NUL, which no field character is.
    for (; i < limit && field.text[i] != ' '; ++i) {
        if (field.text[i] != name[i]) {
            return false;
        }
    }
    return name[i] == '\0';
}

field_name::field_name(const char *name, size_t capacity) noexcept
    : name_(name),
      length_(std::strlen(name)),
      capacity_(capacity),
      possible_(length_ < capacity && std::strchr(name, ' ') == nullptr) {}

bool field_name::matches(const field_span &field) const noexcept {
    // The slot holds the field up to its first blank and at most
    // capacity - 1 characters: it equals the name when the field starts with
    // the name and the slot ends right there.
    if (!possible_ || field.length < length_) {
        return false;
    }
    // Byte by byte: names are short and most differ early, where a call to
    // memcmp would cost more than the comparison.
    for (size_t i = 0; i < length_; ++i) {
        if (field.text[i] != name_[i]) {
            return false;
        }
    }
    return field.length == length_ || field.text[length_] == ' ' || length_ == capacity_ - 1;
}

void store_span(char *slot, size_t capacity, const field_span &field) {
    const size_t limit = field.length < capacity - 1 ? field.length : capacity - 1;
    size_t i = 0;
    for (; i < limit && field.text[i] != ' '; ++i) {
        slot[i] = field.text[i];
    }
    slot[i] = '\0';
}

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
