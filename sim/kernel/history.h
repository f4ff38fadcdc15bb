// The kernel side's history: one line per event it judged, kept in a ring in
// the shared block. Callers hold the kernel lock.
#ifndef LKPSIM_HISTORY_H
#define LKPSIM_HISTORY_H

#include <string>
#include <string_view>
#include <vector>

#include "kernel_layout.h"

namespace lkpsim {

// Appends a line, cut to HISTORY_LINE_SIZE - 1 characters.
void append_history(Kernel *kernel, std::string_view line);
// The lines kept, oldest first (the newest HISTORY_LINES at most).
std::vector<std::string> history_lines(const Kernel &kernel);
void clear_history_lines(Kernel *kernel);

// "op! add,..." belongs to kind "op".
bool history_kind_is(std::string_view line, std::string_view kind);

}  // namespace lkpsim

#endif
