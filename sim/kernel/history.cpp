// The history ring of the shared kernel block.
#include "history.h"

#include <algorithm>
#include <cstring>

namespace lkpsim {

void append_history(Kernel *kernel, std::string_view line) {
    char *slot = kernel->history[kernel->history_total.get() % HISTORY_LINES];
    const std::size_t length = std::min(line.size(), HISTORY_LINE_SIZE - 1);
    std::memcpy(slot, line.data(), length);
    slot[length] = '\0';
    kernel->history_total.add(1);
}

std::vector<std::string> history_lines(const Kernel &kernel) {
    const std::uint64_t total = kernel.history_total.get();
    const std::uint64_t first = total > HISTORY_LINES ? total - HISTORY_LINES : 0;
    std::vector<std::string> lines;
    for (std::uint64_t i = first; i < total; ++i) {
        lines.emplace_back(kernel.history[i % HISTORY_LINES]);
    }
    return lines;
}

void clear_history_lines(Kernel *kernel) {
    kernel->history_total.set(0);
}

bool history_kind_is(std::string_view line, std::string_view kind) {
    std::string_view word = line.substr(0, line.find(' '));
    if (!word.empty() && word.back() == '!') {
        word.remove_suffix(1);
    }
    return word == kind;
}

}  // namespace lkpsim
