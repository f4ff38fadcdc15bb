// The names a package can carry. The control file's records split on commas,
// end a field at its first blank and hold at most 63 characters per name, so
// package and patch names must fit that; each unit archive name is a manifest
// line of at most 63 characters too.
#ifndef LKPCTL_PACK_NAMES_H
#define LKPCTL_PACK_NAMES_H

#include <string>

namespace lkpctl {

constexpr const char *PACKAGE_SUFFIX = ".tar.gz";
constexpr const char *MODULE_SUFFIX = ".ko";

// file_name without suffix, or "" when it does not end in it.
std::string strip_suffix(const std::string &file_name, const std::string &suffix);

// The text after the last '/'.
std::string base_name(const std::string &path);

// Empty when file_name, as a package's name, fits a control-file record (what
// a load requires); else why it does not.
std::string package_key_problem(const std::string &file_name);

// Empty when file_name can name a package that pack builds (a record key
// ending in ".tar.gz"); else why it cannot.
std::string package_name_problem(const std::string &file_name);

// Empty when file_name keeps to the portable set the update engine carries
// (letters, digits, '.', '_', '-', not starting with '-'); else why not.
// With any_name, only the leading '-' (read as an option by every tool) is
// refused.
std::string portable_name_problem(const std::string &file_name, bool any_name);

// Empty when module_file_name (a base name) gives a patch name and a unit
// archive name that fit; else why it does not.
std::string module_name_problem(const std::string &module_file_name);

}  // namespace lkpctl

#endif
