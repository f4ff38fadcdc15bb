// The offline package check: extract the package into a private temporary
// directory, run the load's layout and manifest check on it, then the inner
// layout and name check of every unit, each unit in a directory of its own.
#include "check.h"

#include <map>
#include <string>
#include <vector>

#include "frame/result_codes.h"
#include "json.h"
#include "kernel/patch_list.h"
#include "kernel/record.h"
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
    std::string hint;  // where to find the library's reasons
    int32_t result = 0;
    std::vector<UnitView> units;
    std::vector<std::string> problems;

    void fail(int32_t code, const std::string &problem) {
        if (result == 0) {
            result = code;
        }
        problems.push_back(problem);
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

// Extracts one unit into its own temporary directory and finds its module.
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
        report->fail(INVALID, "unit " + archive +
                                  ": it must hold one directory with one module file whose name, "
                                  "without \".ko\", is a patch name of 1 to 63 characters with "
                                  "no comma, blank, TAB or newline" +
                                  report->hint);
        return;
    }
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

CheckReport check_package(const std::string &path, const std::string &hint) {
    CheckReport report;
    report.hint = hint;
    if (tesvar::is_file_existent(path.c_str()) != 1) {
        report.fail(FILE_MISSING, path + " is not a regular file");
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
        report.fail(INVALID, "package: /bin/tar cannot extract it (not a gzip tar archive, "
                             "truncated, a member outside the archive, or a file over " +
                                 std::to_string(tesvar::MAX_EXTRACTED_FILE_SIZE / (1024 * 1024)) +
                                 " MiB)");
    } else {
        check_extracted(extract_dir.path(), &report);
    }
    return report;
}

Outcome as_outcome(const std::string &path, const CheckReport &report) {
    Outcome outcome = outcome_of(report.result);
    outcome.details = report.problems;
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
    outcome.data = JsonObject()
                       .string("file", path)
                       .string("package", base_name(path))
                       .raw("units", units.str())
                       .raw("problems", problems.str())
                       .str();
    return outcome;
}

}  // namespace

Outcome run_check(const Invocation &inv) {
    return as_outcome(inv.args[0], check_package(inv.args[0], log_hint(inv)));
}

}  // namespace lkpctl
