// Small text rules shared by the kernel side's judges.
#ifndef LKPSIM_NAMES_H
#define LKPSIM_NAMES_H

#include <string>
#include <string_view>

namespace lkpsim {

// 1 to 63 printable characters without blanks or commas.
bool is_plain_name(std::string_view text);
// A whole decimal integer (optional sign) that fits an int.
bool parse_decimal(std::string_view text, int *value);
// The text without one trailing newline, as written by echo.
std::string_view without_newline(std::string_view text);
// The text as the history shows it: exactly as written, a newline as "\n".
std::string as_written(std::string_view text);

}  // namespace lkpsim

#endif
