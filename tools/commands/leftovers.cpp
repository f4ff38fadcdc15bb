// Finding what a killed load or removal left behind.
#include "leftovers.h"

#include <dirent.h>
#include <unistd.h>

#include <map>
#include <set>

#include "json.h"
#include "kernel/kernel_paths.h"
#include "record_files.h"
#include "sys/kernel_files_lock.h"
#include "sys/tmp_dir.h"

namespace lkpctl {
namespace {

// The patch directories under /sys/kernel/livepatch.
std::vector<std::string> livepatch_dirs() {
    std::vector<std::string> names;
    DIR *dir = opendir(tesvar::LIVEPATCH_DIR);
    if (dir == nullptr) {
        return names;
    }
    for (const dirent *entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && entry->d_type == DT_DIR) {
            names.push_back(name);
        }
    }
    closedir(dir);
    return names;
}

// The live patch modules in the kernel: a sysfs directory, or a line of the
// state file (which also names the ones upstream freed).
std::set<std::string> live_patches() {
    std::set<std::string> live;
    for (const std::string &name : livepatch_dirs()) {
        live.insert(name);
    }
    for (const auto &line : read_state_lines()) {
        live.insert(line.first);
    }
    return live;
}

}  // namespace

std::vector<ControlRecord> find_records_without_module() {
    // A removal in flight holds the lock exclusive from a module's removal
    // to its "rm" line; read under it, such a record is never taken for one.
    const tesvar::KernelFilesLock lock(tesvar::KernelFilesLock::Mode::Shared);
    std::vector<ControlRecord> records;
    // The state file names every live patch module in the kernel, freed
    // ones too; without it a freed patch's module cannot be seen.
    if (lock.timed_out() || access(tesvar::STATE_FILE, R_OK) != 0 ||
        read_control_records(&records) != 0) {
        return {};
    }
    const std::set<std::string> live = live_patches();
    std::vector<ControlRecord> dangling;
    for (const ControlRecord &record : records) {
        if (live.count(record.patch) == 0) {
            dangling.push_back(record);
        }
    }
    return dangling;
}

std::vector<std::string> find_orphan_patches(bool *locked_out) {
    // A load in flight holds the lock exclusive from a module's insertion to
    // its "add" line: read under it, such a module is never taken for an
    // orphan. A holder that never lets go leaves nothing to tell.
    const tesvar::KernelFilesLock lock(tesvar::KernelFilesLock::Mode::Shared);
    if (locked_out != nullptr) {
        *locked_out = lock.timed_out();
    }
    std::vector<ControlRecord> records;
    if (lock.timed_out() || read_control_records(&records) != 0) {
        return {};  // without the control file nothing can be told an orphan
    }
    std::set<std::string> registered;
    for (const ControlRecord &record : records) {
        registered.insert(record.patch);
    }
    const std::set<std::string> live = live_patches();
    std::vector<std::string> orphans;
    for (const std::string &name : live) {
        if (registered.count(name) == 0) {
            orphans.push_back(name);
        }
    }
    return orphans;
}

std::vector<PartialPackage> find_partial_packages() {
    std::vector<ControlRecord> records;
    if (read_control_records(&records) != 0) {
        return {};
    }
    std::vector<PartialPackage> packages;
    std::map<std::string, size_t> index;
    for (const ControlRecord &record : records) {
        auto found = index.find(record.package);
        if (found == index.end()) {
            found = index.emplace(record.package, packages.size()).first;
            packages.push_back(PartialPackage{record.package, 0, record.units, {}});
        }
        PartialPackage &package = packages[found->second];
        ++package.registered;
        package.patches.push_back(record.patch);
    }
    std::vector<PartialPackage> partial;
    for (const PartialPackage &package : packages) {
        if (package.units > 0 && package.registered < static_cast<size_t>(package.units)) {
            partial.push_back(package);
        }
    }
    return partial;
}

std::vector<std::string> find_stale_tmp_dirs(bool remove) {
    std::vector<std::string> dirs;
    (void)tesvar::visit_stale_tmp_dirs(
        remove,
        [](const char *path, void *context) {
            static_cast<std::vector<std::string> *>(context)->emplace_back(path);
        },
        &dirs);
    return dirs;
}

Leftovers find_leftovers() {
    return Leftovers{find_orphan_patches(), find_partial_packages(), find_stale_tmp_dirs()};
}

std::string leftovers_text(const Leftovers &leftovers) {
    std::string text;
    for (const std::string &patch : leftovers.orphan_patches) {
        text += "  orphan patch module " + patch + ": in the kernel without a record\n";
    }
    for (const PartialPackage &package : leftovers.partial_packages) {
        text += "  partial package " + package.name + ": " + std::to_string(package.registered) +
                " of " + std::to_string(package.units) + " patches registered\n";
    }
    for (const std::string &dir : leftovers.stale_tmp_dirs) {
        text += "  stale temporary directory " + dir + ": its maker is gone\n";
    }
    return text;
}

std::string leftovers_json(const Leftovers &leftovers) {
    JsonArray partial;
    for (const PartialPackage &package : leftovers.partial_packages) {
        partial.raw(JsonObject()
                        .string("name", package.name)
                        .number("registered", static_cast<int64_t>(package.registered))
                        .number("units", package.units)
                        .str());
    }
    return JsonObject()
        .raw("orphan_patches", json_strings(leftovers.orphan_patches))
        .raw("partial_packages", partial.str())
        .raw("stale_tmp_dirs", json_strings(leftovers.stale_tmp_dirs))
        .str();
}

}  // namespace lkpctl
