// The store's order file: one package name a line, first applied first.
// Lines may end in CR LF, carry blanks around the name, be blank, or be
// comments ("#"); a name the store would not accept is set aside with its
// line number, never used. Reading is linear in the file's length.
#ifndef LKPCTL_ORDER_FILE_H
#define LKPCTL_ORDER_FILE_H

#include <string>
#include <vector>

namespace lkpctl {

struct Order {
    std::vector<std::string> names;     // accepted names, each once, in file order
    std::vector<std::string> rejected;  // "order line N: <why>", in file order
};

Order parse_order(const std::string &text);

// The order file's text for names: one a line.
std::string order_text(const std::vector<std::string> &names);

}  // namespace lkpctl

#endif
