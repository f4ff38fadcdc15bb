// The names the store accepts. Every name it reads (from the order file, the
// command line or --kernel-release) is one plain file name, checked before
// any use, so no name can lead outside the store or onto the store's own
// files: the order file and the temporaries ".<name>.new".
#ifndef LKPCTL_STORE_NAMES_H
#define LKPCTL_STORE_NAMES_H

#include <string>

namespace lkpctl {

constexpr const char *ORDER_FILE = "order";

// Empty when name may be a package file in the store: a package name that
// pack builds ("<dir>.tar.gz", at most 63 characters, nothing the control
// file cannot carry), with no "/", no control character and no leading ".";
// else why it may not.
std::string store_package_problem(const std::string &name);

// Empty when release may name a store directory: not empty, "." or "..",
// no "/", no control character, at most 255 bytes; else why it may not.
std::string release_problem(const std::string &release);

// The name under which name is written before it is renamed into place.
std::string temporary_name(const std::string &name);

// True for a name the store itself may have made: a package name it
// accepts, or the temporary of one or of the order file.
bool is_store_made(const std::string &name);

// name as a message may show it: control characters as "?".
std::string printable(const std::string &name);

}  // namespace lkpctl

#endif
