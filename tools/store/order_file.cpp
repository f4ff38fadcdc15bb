// Parsing and writing the order file.
#include "order_file.h"

#include <unordered_set>

#include "store_names.h"

namespace lkpctl {
namespace {

constexpr const char *BLANKS = " \t\r";

// The line without the blanks (CR included) around it.
std::string trimmed(const std::string &text, size_t begin, size_t end) {
    const size_t first = text.find_first_not_of(BLANKS, begin);
    if (first == std::string::npos || first >= end) {
        return "";
    }
    const size_t last = text.find_last_not_of(BLANKS, end - 1);
    return text.substr(first, last + 1 - first);
}

}  // namespace

Order parse_order(const std::string &text) {
    Order order;
    std::unordered_set<std::string> seen;
    size_t number = 0;
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        ++number;
        const std::string name = trimmed(text, begin, end);
        begin = end + 1;
        if (name.empty() || name[0] == '#') {
            continue;
        }
        const std::string problem = store_package_problem(name);
        if (!problem.empty()) {
            order.rejected.push_back("order line " + std::to_string(number) + ": " + problem);
        } else if (seen.insert(name).second) {
            order.names.push_back(name);
        }
    }
    return order;
}

std::string order_text(const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &name : names) {
        text += name;
        text += '\n';
    }
    return text;
}

}  // namespace lkpctl
