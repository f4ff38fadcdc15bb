// Text rules of the kernel side's judges.
#include "names.h"

#include <climits>

#include "kernel_layout.h"

namespace lkpsim {

bool is_plain_name(std::string_view text) {
    if (text.empty() || text.size() >= NAME_SIZE) {
        return false;
    }
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code <= ' ' || code == 0x7f || c == ',') {
            return false;
        }
    }
    return true;
}

bool parse_decimal(std::string_view text, int *value) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 10) {
        return false;
    }
    long long number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + (c - '0');
    }
    number = negative ? -number : number;
    if (number < INT_MIN || number > INT_MAX) {
        return false;
    }
    *value = static_cast<int>(number);
    return true;
}

std::string as_written(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return shown;
}

std::string_view without_newline(std::string_view text) {
    if (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace lkpsim
