// Building a package: each module in its own unit archive, the manifest,
// and the package archive around them, all in a private staging directory.
#include "pack.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "frame/result_codes.h"
#include "json.h"
#include "module_findings.h"
#include "output_file.h"
#include "pack_request.h"
#include "signals.h"
#include "stage_files.h"
#include "staging_dir.h"
#include "tarball.h"

namespace lkpctl {

const ValueOption PACK_OPTIONS[] = {
    {"--output", "-o", "NAME.tar.gz", "the package file to write (required)"},
    {"--version", nullptr, "V", "the manifest's version text (default 1.0)"},
    {"--description", nullptr, "D", "the manifest's description text (default empty)"},
    {"--date", nullptr, "YYYY-MM-DD", "the manifest's date (default today, UTC)"},
    {"--any-name", nullptr, nullptr,
     "allow a package name beyond letters, digits, '.', '_', '-' (never for the update engine)"},
};
const size_t PACK_OPTION_COUNT = sizeof PACK_OPTIONS / sizeof PACK_OPTIONS[0];

namespace {

// Between steps: a termination signal stops pack; the staging directory and
// the unfinished output go with the owners that unwind.
StepResult not_interrupted() {
    const int signal_number = CaughtSignals::caught();
    if (signal_number == 0) {
        return {};
    }
    return step_failed(-EINTR, std::string("interrupted by ") + signal_name(signal_number) +
                                   "; the staging directory is removed");
}

// Every module file must exist, and pass what check would ask of it in a
// package, before anything is built; warnings are kept for the report.
StepResult check_inputs(const PackRequest &request, std::vector<std::string> *warnings) {
    for (const PackUnit &unit : request.units) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(unit.module_path, error)) {
            return step_failed(tesvar::LKP_FILE_MISSING,
                               "module file " + unit.module_path + " is not a regular file");
        }
        for (const Finding &finding :
             module_findings(unit.module_path, "module file " + unit.module_path, unit.patch, "")) {
            if (!finding.warning) {
                return step_failed(tesvar::LKP_INVALID_ARGUMENT, finding.text);
            }
            warnings->push_back(finding.text);
        }
    }
    return {};
}

// <patch>/<patch>.ko under units_root, archived as package_dir/<patch>.tar.gz.
StepResult stage_unit(const PackUnit &unit, const std::string &staging,
                      const std::string &package_dir) {
    const std::string units_root = staging + "/units";
    const std::string unit_dir = units_root + "/" + unit.patch;
    StepResult result = make_dir(unit_dir);
    if (result.ok()) {
        result = copy_file(unit.module_path, unit_dir + "/" + unit.module_file);
    }
    tesvar::Fd archive;
    if (result.ok()) {
        result = create_file(package_dir + "/" + unit.archive, &archive);
    }
    if (result.ok()) {
        result = write_tar_gz(units_root, unit.patch, staging + "/unit.tar", archive.get());
    }
    if (result.ok() && archive.close() != 0) {
        result = errno_failure("cannot write " + unit.archive, errno);
    }
    return result;
}

StepResult stage_package(const PackRequest &request, const std::string &staging) {
    const std::string package_dir = staging + "/package/" + request.package_dir;
    StepResult result = make_dir(staging + "/units");
    for (const std::string &dir : {staging + "/package", package_dir}) {
        if (result.ok()) {
            result = make_dir(dir);
        }
    }
    for (const PackUnit &unit : request.units) {
        if (result.ok()) {
            result = not_interrupted();
        }
        if (result.ok()) {
            result = stage_unit(unit, staging, package_dir);
        }
    }
    if (result.ok()) {
        result = write_text_file(package_dir + "/content", manifest_text(request.manifest));
    }
    return result;
}

StepResult build_package(const PackRequest &request) {
    StagingDir staging;
    if (staging.error() != 0) {
        return errno_failure("cannot make a staging directory", staging.error());
    }
    StepResult result = stage_package(request, staging.path());
    OutputFile output(request.output);
    if (result.ok()) {
        result = not_interrupted();
    }
    if (result.ok()) {
        result = output.open();
    }
    if (result.ok()) {
        result = write_tar_gz(staging.path() + "/package", request.package_dir,
                              staging.path() + "/package.tar", output.fd());
    }
    if (result.ok()) {
        result = not_interrupted();
    }
    if (result.ok()) {
        result = output.commit();
    }
    return result;
}

Outcome success(const PackRequest &request) {
    Outcome outcome = outcome_of(0);
    JsonArray units;
    std::string listing;
    for (const PackUnit &unit : request.units) {
        units.raw(JsonObject().string("archive", unit.archive).string("patch", unit.patch).str());
        listing += "  " + unit.archive + "  " + unit.patch + "\n";
    }
    outcome.text = request.output + ": package " + request.package_name + ", " +
                   std::to_string(request.units.size()) + " unit(s)\n" + listing;
    outcome.data = JsonObject()
                       .string("file", request.output)
                       .string("package", request.package_name)
                       .raw("units", units.str())
                       .str();
    return outcome;
}

}  // namespace

Outcome run_pack(const Invocation &inv) {
    PackRequest request;
    const std::string problem = make_pack_request(inv, &request);
    if (!problem.empty()) {
        return usage_error(problem);
    }
    StepResult result = check_inputs(request, &request.warnings);
    if (result.ok()) {
        result = build_package(request);
    }
    Outcome outcome = result.ok() ? success(request) : outcome_of(result.code);
    outcome.details = request.warnings;
    if (!result.ok()) {
        outcome.details.push_back(result.detail);
    }
    return outcome;
}

}  // namespace lkpctl
