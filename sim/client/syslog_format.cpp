// Parsing syslog datagrams.
#include "syslog_format.h"

#include <syslog.h>

#include <string>

namespace lkpsim {

LogLine parse_syslog_datagram(std::string_view datagram) {
    // A stream-style sender ends its record with a NUL.
    if (!datagram.empty() && datagram.back() == '\0') {
        datagram.remove_suffix(1);
    }
    const std::size_t close = datagram.find('>');
    if (datagram.empty() || datagram[0] != '<' || close == std::string_view::npos || close < 2) {
        return {-1, std::string(datagram)};
    }
    int value = 0;
    for (const char c : datagram.substr(1, close - 1)) {
        if (c < '0' || c > '9' || value > 1 << 16) {
            return {-1, std::string(datagram)};
        }
        value = value * 10 + (c - '0');
    }
    // The timestamp holds colons but never ": "; the tag ends at the first.
    const std::string_view rest = datagram.substr(close + 1);
    const std::size_t tag_end = rest.find(": ");
    const std::string_view text =
        tag_end == std::string_view::npos ? rest : rest.substr(tag_end + 2);
    return {LOG_PRI(value), std::string(text)};
}

}  // namespace lkpsim
