// The datagrams the C library's syslog() sends: "<PRI>timestamp tag: text",
// tag possibly with "[pid]".
#ifndef LKPSIM_SYSLOG_FORMAT_H
#define LKPSIM_SYSLOG_FORMAT_H

#include <string_view>

#include "lkpsim/lkpsim.h"

namespace lkpsim {

// The priority without facility bits and the message text exactly as logged.
// A datagram without a "<PRI>" head is kept whole with priority -1.
LogLine parse_syslog_datagram(std::string_view datagram);

}  // namespace lkpsim

#endif
