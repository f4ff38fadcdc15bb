// Turning pack's command line into a checked request.
#include "pack_request.h"

#include <set>

#include "module_findings.h"
#include "pack_names.h"

namespace lkpctl {
namespace {

constexpr const char *DEFAULT_VERSION = "1.0";
const std::string NO_VALUE;

std::string take_output(const Invocation &inv, PackRequest *request) {
    if (!inv.has("--output")) {
        return "the package file must be named with -o NAME.tar.gz";
    }
    request->output = inv.value("--output", NO_VALUE);
    request->package_name = base_name(request->output);
    request->package_dir = strip_suffix(request->package_name, PACKAGE_SUFFIX);
    const std::string problem = package_name_problem(request->package_name);
    return problem.empty() ? portable_name_problem(request->package_name, inv.has("--any-name"))
                           : problem;
}

std::string take_manifest_head(const Invocation &inv, PackRequest *request) {
    ManifestFields &manifest = request->manifest;
    manifest.version =
        inv.has("--version") ? inv.value("--version", NO_VALUE) : std::string(DEFAULT_VERSION);
    manifest.description = inv.value("--description", NO_VALUE);
    manifest.date = inv.has("--date") ? inv.value("--date", NO_VALUE) : default_date();
    for (std::string problem : {head_value_problem(HEAD_VERSION, manifest.version),
                                head_value_problem(HEAD_DESCRIPTION, manifest.description),
                                date_problem(manifest.date)}) {
        if (!problem.empty()) {
            return problem;
        }
    }
    return "";
}

std::string take_units(const Invocation &inv, PackRequest *request) {
    std::set<std::string> patches;
    for (const std::string &path : inv.args) {
        PackUnit unit;
        unit.module_path = path;
        unit.module_file = base_name(path);
        std::string problem = module_name_problem(unit.module_file);
        if (!problem.empty()) {
            return problem;
        }
        // The kernel's name for the module: "-" becomes "_".
        unit.patch = kernel_name_of(strip_suffix(unit.module_file, MODULE_SUFFIX));
        unit.archive = unit.patch + PACKAGE_SUFFIX;
        if (!patches.insert(unit.patch).second) {
            return "patch name '" + unit.patch + "' is given twice";
        }
        request->manifest.unit_archives.push_back(unit.archive);
        request->units.push_back(unit);
    }
    return "";
}

}  // namespace

std::string make_pack_request(const Invocation &inv, PackRequest *request) {
    for (auto take : {take_output, take_manifest_head, take_units}) {
        std::string problem = take(inv, request);
        if (!problem.empty()) {
            return problem;
        }
    }
    return "";
}

}  // namespace lkpctl
