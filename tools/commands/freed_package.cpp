// Bringing back a package whose disabled patches the kernel has freed.
#include "freed_package.h"

#include <sys/stat.h>

#include "kernel/control_file.h"
#include "kernel/patch_list.h"
#include "kernel/transition_wait.h"
#include "store.h"
#include "tesvar.h"
#include "transition_command.h"

namespace lkpctl {

namespace {

constexpr int32_t STATE_ENABLED = 5;

// A plain file name: nothing that could lead out of the store.
bool is_plain_name(const std::string &name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool is_regular_file(const std::string &path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

bool has_freed_patch(const std::string &package) {
    tesvar::PatchList patches;
    int32_t count = 0;
    if (!patches || tesvar::get_patch_list(package.c_str(), patches.head(), &count) != 0) {
        return false;
    }
    tesvar::list_head *head = patches.head();
    for (tesvar::list_head *pos = head->next; pos != head; pos = pos->next) {
        if (!tesvar::has_livepatch_dir(tesvar::node_of(pos)->patch_name)) {
            return true;
        }
    }
    return false;
}

bool is_switched_already(const std::string &package, bool on) {
    tesvar::PatchList patches;
    int32_t count = 0;
    if (!patches || tesvar::get_patch_list(package.c_str(), patches.head(), &count) != 0 ||
        count == 0) {
        return false;
    }
    tesvar::list_head *head = patches.head();
    for (tesvar::list_head *pos = head->next; pos != head; pos = pos->next) {
        if (tesvar::is_patch_enabled(tesvar::node_of(pos)->patch_name) != on) {
            return false;
        }
    }
    return true;
}

bool has_store_copy(const Invocation &inv, const std::string &package) {
    return is_plain_name(package) && is_regular_file(store_dir(inv) + "/" + package);
}

Reloaded reload_freed(const Invocation &inv, const std::string &package) {
    const std::string path = store_dir(inv) + "/" + package;
    if (!has_store_copy(inv, package)) {
        return Reloaded{-262, "the kernel freed the disabled patches of " + package +
                                  "; bring it back with: lkpctl remove " + package +
                                  " && lkpctl load <package file>"};
    }
    // A deactivation cut off half-way leaves its first patches enabled: the
    // kernel refuses to remove those until they are disabled too.
    int32_t result = take_out(inv, package).result;
    if (result != 0) {
        return Reloaded{result, "the kernel freed the disabled patches of " + package +
                                    "; removing it to load it again failed"};
    }
    result = navo_lkp_load(path.c_str());
    if (result == 0 && navo_lkp_state(package.c_str()) != STATE_ENABLED) {
        result = navo_lkp_activate(package.c_str());
    }
    if (result != 0) {
        return Reloaded{result, "the kernel freed the disabled patches of " + package +
                                    "; removed, but loading " + path + " again failed"};
    }
    return Reloaded{0, "the kernel freed the disabled patches of " + package +
                           "; removed and loaded again from " + path};
}

std::string load_back(const Invocation &inv, const std::string &package, bool active) {
    const std::string path = store_dir(inv) + "/" + package;
    int32_t result = navo_lkp_load(path.c_str());
    if (result != 0) {
        return "could not load it again from " + path + ": " + std::to_string(result) + " " +
               navo_lkp_strerror(result);
    }
    // An upstream kernel enables a patch as it inserts it.
    const bool on = navo_lkp_state(package.c_str()) == STATE_ENABLED;
    if (active != on) {
        result = active ? navo_lkp_activate(package.c_str()) : navo_lkp_deactivate(package.c_str());
    }
    const char *switched = active ? "activated" : "deactivated";
    if (result != 0) {
        return "loaded again from " + path + "; could not switch it as it was (" + switched +
               "): " + std::to_string(result) + " " + navo_lkp_strerror(result);
    }
    return "loaded again from " + path + (active ? " and activated" : "");
}

}  // namespace lkpctl
