// Name rules of the store.
#include "store_names.h"

#include <algorithm>

#include "pack_names.h"

namespace lkpctl {
namespace {

constexpr size_t MAX_FILE_NAME = 255;
constexpr const char *TEMPORARY_SUFFIX = ".new";

bool is_control(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

bool has_control(const std::string &name) {
    return std::any_of(name.begin(), name.end(), is_control);
}

}  // namespace

std::string printable(const std::string &name) {
    std::string shown = name;
    std::replace_if(shown.begin(), shown.end(), is_control, '?');
    return shown;
}

std::string store_package_problem(const std::string &name) {
    const std::string shown = "'" + printable(name) + "'";
    if (name == ORDER_FILE) {
        return "package name " + shown + " is the store's order file";
    }
    if (name.find('/') != std::string::npos) {
        return "package name " + shown + " contains '/'";
    }
    if (has_control(name)) {
        return "package name " + shown + " contains a control character";
    }
    if (!name.empty() && name[0] == '.') {
        return "package name " + shown + " starts with '.'";
    }
    return package_name_problem(name);
}

std::string release_problem(const std::string &release) {
    const std::string shown = "'" + printable(release) + "'";
    if (release.empty() || release == "." || release == "..") {
        return "kernel release " + shown + " is empty or a dot name";
    }
    if (release.find('/') != std::string::npos) {
        return "kernel release " + shown + " contains '/'";
    }
    if (has_control(release)) {
        return "kernel release " + shown + " contains a control character";
    }
    if (release.size() > MAX_FILE_NAME) {
        return "kernel release " + shown + " is longer than 255 bytes";
    }
    return "";
}

std::string temporary_name(const std::string &name) {
    return "." + name + TEMPORARY_SUFFIX;
}

bool is_store_made(const std::string &name) {
    if (store_package_problem(name).empty() || name == temporary_name(ORDER_FILE)) {
        return true;
    }
    const std::string suffix = TEMPORARY_SUFFIX;
    if (name.size() <= 1 + suffix.size() || name[0] != '.' ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    return store_package_problem(name.substr(1, name.size() - 1 - suffix.size())).empty();
}

}  // namespace lkpctl
