// Reading a package file's manifest and modules without the kernel.
#include "info.h"

#include <string>
#include <vector>

#include "check.h"
#include "explain.h"
#include "frame/result_codes.h"
#include "json.h"
#include "pack_names.h"
#include "package_units.h"
#include "sys/elf_modinfo.h"
#include "sys/file_access.h"
#include "tesvar.h"

namespace lkpctl {
namespace {

struct ModuleInfo {
    std::string unit;
    std::string file;
    std::string name;      // declared name=, empty when none
    std::string vermagic;  // declared vermagic=
    std::string livepatch;
    size_t size = 0;
};

struct PackageInfo {
    std::vector<std::string> head;  // version, description, date, unit count
    std::vector<ModuleInfo> modules;
};

std::string modinfo_value(const tesvar::ElfModinfo &modinfo, const char *key) {
    const char *value = nullptr;
    size_t length = 0;
    return tesvar::find_modinfo_value(modinfo, key, &value, &length) ? std::string(value, length)
                                                                     : std::string();
}

// A head line's value: what follows its keyword (head_info) and one blank.
std::string head_value(size_t index, const std::string &line) {
    const std::string keyword = std::string(head_info[index]) + " ";
    return line.compare(0, keyword.size(), keyword) == 0 ? line.substr(keyword.size()) : line;
}

bool read_module(const char *package_dir, const std::string &unit, ModuleInfo *module) {
    bool mapped = false;
    const bool located = with_unit_module(
        package_dir, unit,
        [&](const char *, const char *module_path, const tesvar::MappedModule &image) {
            mapped = image.valid();
            if (!mapped) {
                return;
            }
            const tesvar::ElfModinfo modinfo = tesvar::read_elf_modinfo(image.data(), image.size());
            module->unit = unit;
            module->file = base_name(module_path);
            module->name = modinfo_value(modinfo, "name");
            module->vermagic = modinfo_value(modinfo, "vermagic");
            module->livepatch = modinfo_value(modinfo, "livepatch");
            module->size = image.size();
        });
    return located && mapped;
}

// False when the package cannot be read as one: the check says why.
bool read_package(const std::string &path, PackageInfo *info) {
    size_t lines = 0;
    const bool read = visit_manifest(
        path,
        [info](const char *package_dir, size_t, const std::string &line) {
            if (info->head.size() < MANIFEST_HEAD_LINES) {
                info->head.push_back(head_value(info->head.size(), line));
                return true;
            }
            ModuleInfo module;
            if (!read_module(package_dir, line, &module)) {
                return false;
            }
            info->modules.push_back(module);
            return true;
        },
        &lines);
    return read && info->head.size() == MANIFEST_HEAD_LINES && !info->modules.empty();
}

std::string as_text(const std::string &path, const PackageInfo &info) {
    std::string text = base_name(path) + "\n  version: " + info.head[0] +
                       "\n  description: " + info.head[1] + "\n  date: " + info.head[2] +
                       "\n  units: " + std::to_string(info.modules.size()) + "\n";
    for (const ModuleInfo &module : info.modules) {
        text += "  unit " + module.unit + ": module " + module.file + ", " +
                std::to_string(module.size) +
                " bytes\n    name: " + (module.name.empty() ? "(not declared)" : module.name) +
                "\n    vermagic: " + module.vermagic +
                "\n    livepatch: " + (module.livepatch.empty() ? "(not set)" : module.livepatch) +
                "\n";
    }
    return text;
}

std::string as_json(const std::string &path, const PackageInfo &info) {
    JsonArray modules;
    for (const ModuleInfo &module : info.modules) {
        modules.raw(JsonObject()
                        .string("unit", module.unit)
                        .string("file", module.file)
                        .raw("name", module.name.empty() ? "null" : json_quote(module.name))
                        .string("vermagic", module.vermagic)
                        .raw("livepatch", module.livepatch == "Y" ? "true" : "false")
                        .number("size", static_cast<int64_t>(module.size))
                        .str());
    }
    return JsonObject()
        .string("file", path)
        .string("package", base_name(path))
        .string("version", info.head[0])
        .string("description", info.head[1])
        .string("date", info.head[2])
        .raw("units", modules.str())
        .str();
}

}  // namespace

Outcome run_info(const Invocation &inv) {
    const std::string &path = inv.args[0];
    PackageInfo info;
    if (tesvar::is_file_existent(path.c_str()) != 1) {
        Outcome outcome = outcome_of(tesvar::LKP_FILE_MISSING);
        outcome.details.push_back(missing_file(path));
        outcome.data = JsonObject().string("file", path).string("package", base_name(path)).str();
        return outcome;
    }
    if (!read_package(path, &info)) {
        const std::string problem = package_problem(path);
        Outcome outcome = outcome_of(tesvar::LKP_INVALID_ARGUMENT);
        outcome.details.push_back(
            problem.empty() ? base_name(path) + ": cannot be read as a package" : problem);
        outcome.data = JsonObject().string("file", path).string("package", base_name(path)).str();
        return outcome;
    }
    Outcome outcome = outcome_of(0);
    outcome.text = as_text(path, info);
    outcome.data = as_json(path, info);
    return outcome;
}

}  // namespace lkpctl
