#include "guest_update_module.h"

#include <sys/utsname.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "guest_checks.h"
#include "guest_kernel.h"
#include "guest_processes.h"
#include "guest_slots.h"
#include "tesvar.h"

namespace guest {
namespace {

namespace fs = std::filesystem;

const std::string MODULE = "/usr/share/mender/modules/v3/tesvar-livepatch";
const std::string WORK = "/tmp/update-work";
const std::string PENDING = "/var/lib/tesvar-livepatch/pending";
constexpr int32_t ENABLED = 5;
constexpr int32_t UNKNOWN = 0;

void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path);
    out << text;
    out.close();
    if (!out) {
        record_failure(__FILE__, __LINE__, "cannot write " + path);
    }
}

std::string json_names(const std::vector<const SlotPackage *> &packages) {
    std::string text;
    for (const SlotPackage *package : packages) {
        text += std::string(text.empty() ? "" : ",") + "\"" + package->name + "\"";
    }
    return "[" + text + "]";
}

// The client's work directory for an artifact; the client empties it for
// every new deployment.
void lay_out_artifact(const std::string &artifact, const std::vector<const SlotPackage *> &packages,
                      const std::vector<const SlotPackage *> &replaces) {
    std::error_code error;
    fs::remove_all(WORK, error);
    for (const char *dir : {"/header", "/files", "/tmp"}) {
        fs::create_directories(WORK + dir, error);
    }
    write_file(WORK + "/header/artifact_name", artifact + "\n");
    // The release the modules were built for: the running kernel's.
    utsname uts{};
    uname(&uts);
    std::string meta = "{\"kernel_release\":\"" + std::string(uts.release) +
                       "\",\"packages\":" + json_names(packages);
    if (!replaces.empty()) {
        meta += ",\"replaces\":" + json_names(replaces);
    }
    write_file(WORK + "/header/meta-data", meta + "}");
    for (const SlotPackage *package : packages) {
        fs::copy_file(package_path(*package), WORK + "/files/" + package->name, error);
        if (error) {
            record_failure(__FILE__, __LINE__, "cannot copy " + package->name);
        }
    }
}

// Runs one state of the update module under busybox sh; a failure shows
// its output when the exit status is not the expected one.
ProgramRun run_state(const std::string &state, int expected_status = 0) {
    ProgramRun run =
        run_program({"/bin/sh", MODULE, state, WORK},
                    {"PATH=/opt/lkp/bin:/bin:/sbin", "TESVAR_LKPCTL=/opt/lkp/bin/lkpctl"});
    if (run.status != expected_status) {
        record_failure(__FILE__, __LINE__,
                       state + ": expected exit " + std::to_string(expected_status) + ", got " +
                           std::to_string(run.status) + ", stdout " + show(run.out) + ", stderr " +
                           show(run.err));
    }
    return run;
}

// The store's boot order, one name a line.
std::string installed() {
    utsname uts{};
    uname(&uts);
    std::istringstream lines(read_text(std::string("/var/lib/tesvar/") + uts.release + "/order"));
    std::string line;
    std::string names;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] != '#') {
            names += line + "\n";
        }
    }
    return names;
}

int32_t state_of(const SlotPackage &package) {
    return navo_lkp_state(package.name.c_str());
}

}  // namespace

void update_module_install_rollback_commit() {
    lay_out_artifact("fix-a", {&TRIPLE_A}, {});
    CHECK_EQ(run_state("SupportsRollback").out, std::string("Yes\n"));
    run_state("ArtifactInstall");
    CHECK_EQ(state_of(TRIPLE_A), ENABLED);
    CHECK_EQ(slots_now(), slots_saying("fixed", "original"));
    CHECK(exists(PENDING));
    run_state("ArtifactCommit");
    CHECK_EQ(installed(), TRIPLE_A.name + "\n");
    CHECK_EQ(exists(PENDING), false);

    // triple_b replaces triple_a: triple_a is taken out (the store keeps
    // its file), then the rollback brings it back from the kept copy.
    lay_out_artifact("fix-b", {&TRIPLE_B}, {&TRIPLE_A});
    run_state("ArtifactInstall");
    CHECK_EQ(state_of(TRIPLE_B), ENABLED);
    CHECK_EQ(state_of(TRIPLE_A), UNKNOWN);
    CHECK_EQ(slots_now(), slots_saying("original", "fixed"));
    run_state("ArtifactRollback");
    CHECK_EQ(state_of(TRIPLE_A), ENABLED);
    CHECK_EQ(state_of(TRIPLE_B), UNKNOWN);
    CHECK_EQ(slots_now(), slots_saying("fixed", "original"));
    CHECK_EQ(installed(), TRIPLE_A.name + "\n");
    CHECK_EQ(exists(PENDING), false);

    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"deactivate", TRIPLE_A.name},
          std::vector<std::string>{"remove", TRIPLE_A.name},
          std::vector<std::string>{"uninstall", TRIPLE_A.name}}) {
        const ToolRun run = run_lkpctl(args);
        CHECK_EQ(run.status, 0);
        if (run.status != 0) {
            record_failure(__FILE__, __LINE__, args[0] + ": " + show(run.err));
        }
    }
    std::error_code ignored;
    fs::remove_all(WORK, ignored);
    take_log();
    check_no_package_left();
}

}  // namespace guest
