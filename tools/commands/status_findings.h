// What "lkpctl status" finds that needs an operator: each finding source
// looks at the gathered view and adds findings; status prints a one-line
// summary first and exits 3 when there is any. A new kind of finding is one
// more source in the table of status_findings.cpp.
#ifndef LKPCTL_STATUS_FINDINGS_H
#define LKPCTL_STATUS_FINDINGS_H

#include <string>
#include <vector>

#include "list.h"
#include "record_files.h"

namespace lkpctl {

// What status gathered before judging it.
struct StatusView {
    bool livepatch = false;                   // the kernel supports live patching
    bool manager = false;                     // the patch manager module is loaded
    bool records_read = false;                // the control and state files could be read
    std::vector<PackageView> loaded;          // the registered packages
    std::vector<std::string> in_transition;   // their patches now in transition
    std::string store;                        // the store shown
    bool running_store = false;               // it is the running kernel release's store
    std::vector<std::string> installed;       // its packages, in boot order
    std::vector<std::string> refused;         // order lines the store refuses
    std::string store_problem;                // why the store could not be read, or ""
    bool records_disagree = false;            // only because of the leftovers below
    std::vector<std::string> orphan_patches;  // patch modules without a record (leftovers.h)
    std::vector<ControlRecord> records_without_module;  // records of modules taken out
    bool orphans_unknown = false;             // the kernel's files were held too long to look
    std::vector<std::string> stale_tmp_dirs;  // /tmp/lkp_* whose maker is gone
};

struct StatusFinding {
    std::string kind;     // a fixed word scripts can test: "not-loaded", "partial", ...
    std::string package;  // the package it is about, "" when none
    std::string text;     // one line for the operator, saying what to do
};
using StatusFindings = std::vector<StatusFinding>;

// Every finding of every source, in the table's order.
StatusFindings status_findings(const StatusView &view);

// The first line of status's text: the first finding and how many more.
std::string findings_summary(const StatusFindings &findings);

// The findings as the "findings" JSON array.
std::string findings_json(const StatusFindings &findings);

}  // namespace lkpctl

#endif
