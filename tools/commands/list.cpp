// Listing the registered packages, grouped from the control file's records
// in file order, each patch with the state word the state file gives it.
#include "list.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "json.h"
#include "kernel/consistency.h"
#include "kernel/record.h"
#include "record_files.h"

namespace lkpctl {
namespace {

// Groups the records by package, packages in order of first appearance.
std::vector<PackageView> group(const std::vector<ControlRecord> &records,
                               const std::map<std::string, std::string> &words) {
    std::vector<PackageView> packages;
    std::map<std::string, size_t> index_of;
    for (const ControlRecord &record : records) {
        auto [found, added] = index_of.emplace(record.package, packages.size());
        if (added) {
            packages.push_back({record.package, {}, record.units});
        }
        auto word = words.find(record.patch);
        packages[found->second].patches.push_back(
            {record.patch, word != words.end() ? word->second : tesvar::STATE_UNKNOWN});
    }
    return packages;
}

std::string as_text(const std::vector<PackageView> &packages) {
    if (packages.empty()) {
        return "no packages registered\n";
    }
    std::string text = "PACKAGE (STATE)\n  PATCH  STATE\n";
    for (const PackageView &package : packages) {
        text += package.name + package_label(package) + "\n";
        size_t width = 0;
        for (const PatchView &patch : package.patches) {
            width = std::max(width, patch.name.size());
        }
        for (const PatchView &patch : package.patches) {
            text += "  " + patch.name + std::string(width - patch.name.size() + 2, ' ') +
                    patch.state + "\n";
        }
    }
    return text;
}

}  // namespace

std::string PackageView::count_text() const {
    return std::to_string(patches.size()) + " of " + std::to_string(units) + " patches";
}

std::string package_label(const PackageView &package) {
    const std::string &state = package.patches.back().state;
    return package.partial() ? " (" + state + ", partially loaded: " + package.count_text() + ")"
                             : " (" + state + ")";
}

std::string packages_json(const std::vector<PackageView> &packages) {
    JsonArray package_array;
    for (const PackageView &package : packages) {
        JsonArray patch_array;
        for (const PatchView &patch : package.patches) {
            patch_array.raw(
                JsonObject().string("name", patch.name).string("state", patch.state).str());
        }
        package_array.raw(JsonObject()
                              .string("name", package.name)
                              .string("state", package.patches.back().state)
                              .raw("patches", patch_array.str())
                              .number("units", package.units)
                              .raw("partial", package.partial() ? "true" : "false")
                              .str());
    }
    return package_array.str();
}

namespace {

// Unreadable or disagreeing record files fail the listing as they fail every operation.
Outcome failed(const Invocation &inv, int32_t result) {
    Outcome outcome = outcome_of(result);
    outcome.details.push_back("cannot read the control and state files, or they disagree" +
                              log_hint(inv));
    return outcome;
}

}  // namespace

int32_t loaded_packages(std::vector<PackageView> *packages) {
    char state[tesvar::STATE_SIZE] = {};
    int32_t result = tesvar::check_record_available("", state);
    std::vector<ControlRecord> records;
    if (result == 0) {
        result = read_control_records(&records);
    }
    std::map<std::string, std::string> words;
    if (result == 0) {
        result = read_state_words(records.size(), &words);
    }
    if (result == 0) {
        *packages = group(records, words);
    }
    return result;
}

int32_t registered_packages_as_they_are(std::vector<PackageView> *packages) {
    std::vector<ControlRecord> records;
    const int32_t result = read_control_records(&records);
    if (result == 0) {
        *packages = group(records, read_state_lines());
    }
    return result;
}

Outcome run_list(const Invocation &inv) {
    std::vector<PackageView> packages;
    const int32_t result = loaded_packages(&packages);
    if (result != 0) {
        return failed(inv, result);
    }
    Outcome outcome = outcome_of(0);
    outcome.text = as_text(packages);
    outcome.data = JsonObject().raw("packages", packages_json(packages)).str();
    return outcome;
}

}  // namespace lkpctl
