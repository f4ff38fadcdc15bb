// The offline package check: extract the package into a private temporary
// directory, run the load's layout and manifest check on it, then the inner
// layout and name check of every unit, each unit in a directory of its own.
#include "check.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "frame/result_codes.h"
#include "json.h"
#include "kernel/patch_list.h"
#include "kernel/record.h"
#include "module_findings.h"
#include "ops/package_check.h"
#include "ops/unit_layout.h"
#include "pack_names.h"
#include "sys/archive.h"
#include "sys/file_access.h"
#include "sys/names.h"
#include "sys/owned.h"
#include "sys/tmp_dir.h"

namespace lkpctl {
namespace {

constexpr int32_t INVALID = tesvar::LKP_INVALID_ARGUMENT;
constexpr int32_t MALLOC_FAILED = tesvar::LKP_MALLOC_FAILED;
constexpr int32_t FILE_MISSING = tesvar::LKP_FILE_MISSING;

struct UnitView {
    std::string archive;
    std::string patch;
};

struct CheckReport {
    std::string hint;     // where to find the library's reasons
    std::string release;  // --kernel-release, or empty
    int32_t result = 0;
    std::vector<UnitView> units;
    std::vector<std::string> problems;
    std::vector<std::string> warnings;

    void fail(int32_t code, const std::string &problem) {
        if (result == 0) {
            result = code;
        }
        problems.push_back(problem);
    }
    void add(const Findings &findings) {
        for (const Finding &finding : findings) {
            if (finding.warning) {
                warnings.push_back(finding.text);
            } else {
                fail(INVALID, finding.text);
            }
        }
    }
};

// The unit archive names of the package, in manifest order.
std::vector<std::string> unit_names(const tesvar::PatchList &units) {
    std::vector<std::string> names;
    for (tesvar::list_head *at = units.head()->next; at != units.head(); at = at->next) {
        names.emplace_back(tesvar::node_of(at)->patch_name);
    }
    return names;
}

// The specific reasons a unit the library refused breaks: entries that are
// links or special files, module names the module tools cut, and modules
// that declare another name. Empty when none of these applies.
Findings diagnose_unit(const std::string &unit_dir, const std::string &archive) {
    namespace fs = std::filesystem;
    Findings findings = special_entries(unit_dir, archive + ":");
    std::error_code error_code;
    fs::recursive_directory_iterator walk(unit_dir, error_code);
    for (; !error_code && walk != fs::recursive_directory_iterator(); walk.increment(error_code)) {
        const std::string file = walk->path().filename().string();
        const std::string stem = strip_suffix(file, ".ko");
        if (stem.empty() || !walk->is_regular_file(error_code) || walk->is_symlink(error_code)) {
            continue;
        }
        const std::string entry = "unit " + archive + " module " +
                                  fs::path(walk->path()).lexically_relative(unit_dir).string();
        const std::string cut = cut_name_problem(stem, entry);
        if (!cut.empty()) {
            findings.push_back(Finding{false, cut});
            continue;
        }
        for (const Finding &finding :
             module_findings(walk->path(), entry, kernel_name_of(stem), "")) {
            if (finding.text.find(": declares module name") != std::string::npos) {
                findings.push_back(finding);
            }
        }
    }
    return findings;
}

// Extracts one unit into its own temporary directory, finds its module and
// reads it.
void check_unit(const char *package_dir, const std::string &archive, CheckReport *report) {
    tesvar::TmpDir unit_dir;
    if (!unit_dir) {
        report->fail(INVALID, "unit " + archive + ": cannot make a temporary directory");
        return;
    }
    tesvar::HeapText module_path;
    char patch[tesvar::NAME_SIZE] = {};
    if (tesvar::locate_unit_module(package_dir, archive.c_str(), unit_dir.path(), &module_path,
                                   patch) != 0) {
        const Findings findings = diagnose_unit(unit_dir.path(), archive);
        if (!findings.empty()) {
            report->add(findings);
            return;
        }
        report->fail(INVALID, "unit " + archive +
                                  ": it must hold one directory with one module file whose name, "
                                  "without \".ko\", is a patch name of 1 to 63 characters with "
                                  "no comma, blank, TAB, newline, '.' or control character, and "
                                  "the unit archive must extract cleanly (at most 64 MiB a file)" +
                                  report->hint);
        return;
    }
    const std::string entry = "unit " + archive + " module " + base_name(module_path.get());
    report->add(module_findings(module_path.get(), entry, patch, report->release));
    report->units.push_back({archive, patch});
}

// Two units with one patch name cannot both be inserted: the kernel refuses the second.
void check_duplicates(CheckReport *report) {
    std::map<std::string, std::string> seen;
    for (const UnitView &unit : report->units) {
        auto [found, added] = seen.emplace(unit.patch, unit.archive);
        if (!added) {
            report->fail(INVALID, "units " + found->second + " and " + unit.archive +
                                      " both hold patch " + unit.patch);
        }
    }
}

void check_extracted(const char *extract_dir, CheckReport *report) {
    tesvar::PatchList units;
    if (!units) {
        report->fail(MALLOC_FAILED, "out of memory");
        return;
    }
    int32_t count = 0;
    if (tesvar::check_pkg_available(extract_dir, units.head(), &count) != 0) {
        report->fail(INVALID, "the package layout or its manifest is wrong" + report->hint);
        return;
    }
    const tesvar::HeapText package_dir(tesvar::get_child_dir(extract_dir));
    if (!package_dir) {
        report->fail(INVALID, "the package directory has gone");
        return;
    }
    for (const std::string &archive : unit_names(units)) {
        check_unit(package_dir.get(), archive, report);
    }
    check_duplicates(report);
}

}  // namespace

std::string missing_file(const std::string &path) {
    struct stat status {};
    return lstat(path.c_str(), &status) != 0 ? path + " does not exist"
                                             : path + " is not a regular file";
}

namespace {

CheckReport check_package(const std::string &path, const std::string &hint,
                          const std::string &release) {
    CheckReport report;
    report.hint = hint;
    report.release = release;
    if (tesvar::is_file_existent(path.c_str()) != 1) {
        report.fail(FILE_MISSING, missing_file(path));
        return report;
    }
    // The control file keys the package by its file name: it must fit a record.
    const std::string name_problem = package_key_problem(base_name(path));
    if (!name_problem.empty()) {
        report.fail(INVALID, name_problem);
    }
    tesvar::TmpDir extract_dir;
    if (!extract_dir) {
        report.fail(INVALID, "cannot make a temporary directory");
    } else if (tesvar::decompress_tar_gz(path.c_str(), extract_dir.path()) != 0) {
        report.fail(INVALID,
                    "package: /bin/tar cannot extract it (not a gzip tar archive, "
                    "truncated, a member outside the archive, or a file over " +
                        std::to_string(tesvar::MAX_EXTRACTED_FILE_SIZE / (1024L * 1024)) + " MiB)");
    } else {
        report.add(special_entries(extract_dir.path(), ""));
        check_extracted(extract_dir.path(), &report);
    }
    return report;
}

Outcome as_outcome(const std::string &path, const CheckReport &report) {
    Outcome outcome = outcome_of(report.result);
    outcome.details = report.warnings;
    outcome.details.insert(outcome.details.end(), report.problems.begin(), report.problems.end());
    JsonArray units;
    std::string listing;
    for (const UnitView &unit : report.units) {
        units.raw(JsonObject().string("archive", unit.archive).string("patch", unit.patch).str());
        listing += "  " + unit.archive + "  " + unit.patch + "\n";
    }
    if (report.result == 0) {
        outcome.text =
            base_name(path) + ": " + std::to_string(report.units.size()) + " unit(s)\n" + listing;
    }
    JsonArray problems;
    for (const std::string &problem : report.problems) {
        problems.string(problem);
    }
    JsonArray warnings;
    for (const std::string &warning : report.warnings) {
        warnings.string(warning);
    }
    outcome.data = JsonObject()
                       .string("file", path)
                       .string("package", base_name(path))
                       .raw("units", units.str())
                       .raw("problems", problems.str())
                       .raw("warnings", warnings.str())
                       .str();
    return outcome;
}

}  // namespace

const ValueOption CHECK_OPTIONS[] = {
    {"--kernel-release", nullptr, "R",
     "the kernel release the modules must be built for (the first word of their vermagic=)"},
};
const size_t CHECK_OPTION_COUNT = sizeof CHECK_OPTIONS / sizeof CHECK_OPTIONS[0];

Outcome run_check(const Invocation &inv) {
    static const std::string NO_RELEASE;
    return as_outcome(inv.args[0], check_package(inv.args[0], log_hint(inv),
                                                 inv.value("--kernel-release", NO_RELEASE)));
}

std::string first_check_problem(const std::string &path) {
    const CheckReport report = check_package(path, "", "");
    return report.problems.empty() ? "" : report.problems.front();
}

}  // namespace lkpctl
