// Module file findings: the library's bounded ELF reader, then the rules.
#include "module_findings.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "sys/archive.h"
#include "sys/elf_modinfo.h"

namespace lkpctl {
namespace {

std::string declared(const tesvar::ElfModinfo &info, const char *key, bool *found) {
    const char *value = nullptr;
    size_t length = 0;
    *found = tesvar::find_modinfo_value(info, key, &value, &length);
    return *found ? std::string(value, length) : std::string();
}

Finding error(const std::string &text) {
    return Finding{false, text};
}

// The kind of a non-regular, non-directory entry, for its finding.
std::string kind_of(std::filesystem::file_type type) {
    using std::filesystem::file_type;
    switch (type) {
        case file_type::symlink:
            return "a symbolic link";
        case file_type::fifo:
            return "a FIFO";
        case file_type::block:
            return "a block device";
        case file_type::character:
            return "a character device";
        case file_type::socket:
            return "a socket";
        default:
            return "not a directory or a regular file";
    }
}

}  // namespace

std::string kernel_name_of(const std::string &stem) {
    std::string name = stem;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

std::string cut_name_problem(const std::string &stem, const std::string &entry) {
    const bool cut = std::any_of(stem.begin(), stem.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == '.' || byte < 0x20 || byte == 0x7f;
    });
    if (!cut) {
        return "";
    }
    return entry +
           ": the patch name must not contain '.' or a control character (module "
           "tools cut module names at the first '.')";
}

Findings module_findings(const std::string &path, const std::string &entry,
                         const std::string &patch, const std::string &release) {
    const tesvar::MappedModule image(path.c_str(),
                                     static_cast<size_t>(tesvar::MAX_EXTRACTED_FILE_SIZE));
    if (!image.valid()) {
        return {error(entry + ": not a readable, non-empty regular file of at most 64 MiB")};
    }
    const tesvar::ElfModinfo info = tesvar::read_elf_modinfo(image.data(), image.size());
    if (!info.is_elf || !info.relocatable) {
        return {error(entry + ": not an ELF relocatable object, as a kernel module is")};
    }
    if (!info.has_modinfo) {
        return {error(entry + ": has no \".modinfo\" section")};
    }
    Findings findings;
    bool found = false;
    const std::string name = declared(info, "name", &found);
    if (found && name != patch) {
        findings.push_back(error(entry + ": declares module name '" + name +
                                 "', not its patch name '" + patch + "'"));
    }
    if (declared(info, "livepatch", &found) != "Y") {
        findings.push_back(
            Finding{true, "warning: " + entry + ": not marked livepatch=Y (not a live patch)"});
    }
    if (!release.empty()) {
        const std::string vermagic = declared(info, "vermagic", &found);
        const std::string built_for = vermagic.substr(0, vermagic.find(' '));
        if (!found) {
            findings.push_back(
                error(entry + ": has no vermagic= entry to compare with release " + release));
        } else if (built_for != release) {
            findings.push_back(error(entry + ": built for kernel release '" + built_for +
                                     "' (vermagic=), not '" + release + "'"));
        }
    }
    return findings;
}

Findings special_entries(const std::string &dir, const std::string &entry_prefix) {
    namespace fs = std::filesystem;
    Findings findings;
    std::error_code error_code;
    fs::recursive_directory_iterator walk(dir, error_code);
    for (; !error_code && walk != fs::recursive_directory_iterator(); walk.increment(error_code)) {
        const fs::file_type type = walk->symlink_status(error_code).type();
        if (type == fs::file_type::directory || type == fs::file_type::regular) {
            continue;
        }
        std::string text = "entry " + entry_prefix;
        text += fs::path(walk->path()).lexically_relative(dir).string();
        text += ": " + kind_of(type) + "; every entry must be a directory or a regular file";
        findings.push_back(error(text));
    }
    return findings;
}

}  // namespace lkpctl
