// Name rules for packages and their units, on top of the library's own test
// of what a control-file record can carry.
#include "pack_names.h"

#include "kernel/record.h"
#include "module_findings.h"
#include "ops/names_policy.h"

namespace lkpctl {
namespace {

constexpr size_t MAX_NAME = tesvar::NAME_SIZE - 1;

// Why name cannot be a record field or a directory name; empty when it can.
std::string field_problem(const std::string &name, const std::string &what) {
    if (name.empty() || name == "." || name == "..") {
        return what + " '" + name + "' is empty or a dot name";
    }
    if (name.find('\0') != std::string::npos || !tesvar::is_record_safe(name.c_str())) {
        return what + " '" + name + "' contains a comma, a blank, a TAB or a newline";
    }
    return "";
}

}  // namespace

std::string strip_suffix(const std::string &file_name, const std::string &suffix) {
    if (file_name.size() <= suffix.size() ||
        file_name.compare(file_name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return "";
    }
    return file_name.substr(0, file_name.size() - suffix.size());
}

std::string base_name(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string package_key_problem(const std::string &file_name) {
    if (file_name.size() > MAX_NAME) {
        return "package name '" + file_name + "' is longer than 63 characters";
    }
    return field_problem(file_name, "package name");
}

std::string package_name_problem(const std::string &file_name) {
    const std::string stem = strip_suffix(file_name, PACKAGE_SUFFIX);
    if (stem.empty()) {
        return "package name '" + file_name + "' must end in \".tar.gz\" after a directory name";
    }
    const std::string problem = package_key_problem(file_name);
    return problem.empty() ? field_problem(stem, "package directory name") : problem;
}

namespace {

bool portable_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

}  // namespace

std::string portable_name_problem(const std::string &file_name, bool any_name) {
    if (!file_name.empty() && file_name[0] == '-') {
        return "package name '" + file_name + "' starts with '-', which commands read as an option";
    }
    for (const char c : file_name) {
        if (!any_name && !portable_character(c)) {
            return "package name '" + file_name +
                   "' holds a character other than letters, digits, '.', '_' and '-', which the "
                   "update engine cannot carry (--any-name allows it for a package that never "
                   "goes through it)";
        }
    }
    return "";
}

std::string module_name_problem(const std::string &module_file_name) {
    const std::string patch = strip_suffix(module_file_name, MODULE_SUFFIX);
    if (patch.empty()) {
        return "module file '" + module_file_name + "' must end in \".ko\" after a patch name";
    }
    std::string problem = field_problem(patch, "patch name");
    if (!problem.empty()) {
        return problem;
    }
    problem = cut_name_problem(patch, "patch name '" + patch + "'");
    if (!problem.empty()) {
        return problem;
    }
    if ((patch + PACKAGE_SUFFIX).size() > MAX_NAME) {
        return "patch name '" + patch + "' is too long: its unit archive name '" + patch +
               PACKAGE_SUFFIX + "' must fit in 63 characters";
    }
    return "";
}

}  // namespace lkpctl
