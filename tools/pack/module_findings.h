// What lkpctl check and pack find in a patch module file and its name,
// beyond what a load checks: it can afford to read the whole module.
#ifndef LKPCTL_MODULE_FINDINGS_H
#define LKPCTL_MODULE_FINDINGS_H

#include <string>
#include <vector>

namespace lkpctl {

// One line naming the entry and the rule it breaks; a warning does not make
// the package fail.
struct Finding {
    bool warning = false;
    std::string text;
};
using Findings = std::vector<Finding>;

// The name the kernel gives a module built from a file with this stem: every
// "-" made "_". It is the patch name.
std::string kernel_name_of(const std::string &stem);

// Why a module file stem cannot be a patch name because the module tools cut
// or mangle it (a "." or a control character); empty when it can.
std::string cut_name_problem(const std::string &stem, const std::string &entry);

// The module at path (named `entry` in the lines) must be an ELF relocatable
// object with a ".modinfo" section; a declared name= must equal patch; it
// should be marked livepatch=Y (a warning otherwise); when release is not
// empty, its vermagic= release must be release.
Findings module_findings(const std::string &path, const std::string &entry,
                         const std::string &patch, const std::string &release);

// Every entry below dir (its path relative to dir, prefixed with
// entry_prefix) that is not a directory or a regular file: a link is never
// followed or opened.
Findings special_entries(const std::string &dir, const std::string &entry_prefix);

}  // namespace lkpctl

#endif
