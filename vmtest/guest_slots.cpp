#include "guest_slots.h"

#include <filesystem>
#include <sstream>

#include "guest_checks.h"
#include "guest_kernel.h"

namespace guest {

namespace fs = std::filesystem;

const SlotPackage TRIPLE_A{"triple_a.tar.gz", {"lkp_slot1_fix", "lkp_slot2_fix", "lkp_slot3_fix"}};
const SlotPackage TRIPLE_B{"triple_b.tar.gz", {"lkp_slot4_fix", "lkp_slot5_fix", "lkp_slot6_fix"}};
const SlotPackage CUMULATIVE{"cumulative.tar.gz", {"lkp_slots_all"}};

namespace {
const char *const CONTROL = "/proc/navo_lkp_list";
}  // namespace

std::string package_path(const SlotPackage &package) {
    return "/opt/lkp/pkg/" + package.name;
}

std::string records_of(const SlotPackage &package) {
    std::string text;
    for (const std::string &patch : package.patches) {
        text += std::to_string(package.patches.size()) + "," + package.name + "," + patch + "\n";
    }
    return text;
}

std::string records_in(const std::string &control_text, const SlotPackage &package) {
    std::istringstream lines(control_text);
    std::string line;
    std::string mine;
    const std::string field = "," + package.name + ",";
    while (std::getline(lines, line)) {
        if (line.find(field) != std::string::npos) {
            mine += line + "\n";
        }
    }
    return mine;
}

std::string slots_saying(const std::string &first, const std::string &second) {
    std::string text;
    for (int slot = 1; slot <= 6; ++slot) {
        text += "slot" + std::to_string(slot) + " " + (slot <= 3 ? first : second) + "\n";
    }
    return text;
}

std::string slots_now() {
    return read_required("/proc/lkp_slots");
}

bool patch_listed(const std::string &patch) {
    return exists("/sys/kernel/livepatch/" + patch);
}

void check_no_package_left() {
    for (const SlotPackage *package : {&TRIPLE_A, &TRIPLE_B, &CUMULATIVE}) {
        for (const std::string &patch : package->patches) {
            CHECK_EQ(module_loaded(patch), false);
        }
    }
    // Without the patch manager there is no control file and no record.
    if (module_loaded("tesvar")) {
        CHECK_EQ(read_required(CONTROL), std::string());
    } else {
        CHECK_EQ(exists(CONTROL), false);
    }
    CHECK(lkp_tmp_entries().empty());
}

void check_left_clean() {
    check_no_package_left();
    CHECK(wait_transitions());
    CHECK_EQ(slots_now(), slots_saying("original", "original"));
    std::error_code ignored;
    for (fs::recursive_directory_iterator entry("/var/lib/tesvar", ignored), end; entry != end;
         entry.increment(ignored)) {
        // The boot order file stays, empty.
        const bool empty_order =
            entry->path().filename() == "order" && entry->file_size(ignored) == 0;
        if (entry->is_regular_file(ignored) && !empty_order) {
            record_failure(__FILE__, __LINE__, "left in the store: " + entry->path().string());
        }
    }
    CHECK_EQ(exists("/var/lib/tesvar-livepatch/pending"), false);
    CHECK_EQ(exists("/tmp/update-work"), false);
}

void reset_packages() {
    for (const SlotPackage *package : {&CUMULATIVE, &TRIPLE_B, &TRIPLE_A}) {
        for (auto patch = package->patches.rbegin(); patch != package->patches.rend(); ++patch) {
            force_clean(package->name, *patch);
        }
    }
    std::error_code ignored;
    fs::remove_all("/var/lib/tesvar", ignored);
    fs::remove_all("/var/lib/tesvar-livepatch", ignored);
    fs::remove_all("/tmp/update-work", ignored);
    remove_module("tesvar");  // the manager is inserted again by the next load
    take_log();
}

}  // namespace guest
