// Installing and uninstalling packages in the store, each change made
// atomic by writing a temporary name and renaming it over the old one.
#include "store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unordered_set>

#include "frame/result_codes.h"
#include "json.h"
#include "pack_names.h"
#include "store_undo.h"
#include "sys/owned_fd.h"

namespace lkpctl {
namespace {

bool contains(const std::vector<std::string> &names, const std::string &name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The whole source file at path (the operator's, links followed), never
// blocking on a FIFO or device in its place.
StepResult read_source(const std::string &path, std::string *bytes) {
    const tesvar::Fd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || fstat(fd.get(), &info) != 0) {
        return errno_failure(path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return step_failed(tesvar::LKP_FILE_MISSING, path + " is not a regular file");
    }
    bytes->clear();
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return step_failed(tesvar::LKP_FILE_MISSING, "cannot read " + path);
        }
        if (got == 0) {
            return {};
        }
        bytes->append(buffer, static_cast<size_t>(got));
    }
}

// Where the new names go: before or after the anchor, or in their old
// places (new ones at the end).
StepResult place(std::vector<std::string> *order, const std::vector<std::string> &names,
                 const Invocation &inv) {
    const bool before = inv.has("--before");
    if (!before && !inv.has("--after")) {
        const std::unordered_set<std::string> present(order->begin(), order->end());
        for (const std::string &name : names) {
            if (present.count(name) == 0) {
                order->push_back(name);
            }
        }
        return {};
    }
    const std::string anchor = inv.value(before ? "--before" : "--after", "");
    if (contains(names, anchor)) {
        return step_failed(tesvar::LKP_INVALID_ARGUMENT,
                           "cannot place " + printable(anchor) + " next to itself");
    }
    order->erase(std::remove_if(order->begin(), order->end(),
                                [&](const std::string &name) { return contains(names, name); }),
                 order->end());
    auto at = std::find(order->begin(), order->end(), anchor);
    if (at == order->end()) {
        return step_failed(tesvar::LKP_FILE_MISSING,
                           "'" + printable(anchor) + "' is not installed");
    }
    order->insert(before ? at : at + 1, names.begin(), names.end());
    return {};
}

// Removes what an interrupted change left in the store: temporaries and
// package files the order file does not name. Only names the store itself
// makes, and only regular files: anything else someone put there stays.
// Best effort: boot ignores them.
void remove_strays(const StoreDir &store, const std::vector<std::string> &order) {
    const std::unordered_set<std::string> named(order.begin(), order.end());
    for (const std::string &name : store.regular_files()) {
        if (name != ORDER_FILE && named.count(name) == 0 && is_store_made(name)) {
            (void)store.remove(name);
        }
    }
}

Outcome store_failure(const StepResult &step) {
    Outcome outcome = outcome_of(step.code);
    outcome.details.push_back(step.detail);
    return outcome;
}

Outcome store_outcome(const StoreDir &store, const std::vector<std::string> &changed,
                      const Order &order, const char *done) {
    Outcome outcome = outcome_of(0);
    for (const std::string &name : changed) {
        outcome.text += name + ": " + done + "\n";
    }
    for (const std::string &rejected : order.rejected) {
        outcome.text += "dropped " + rejected + "\n";
    }
    std::string listing;
    for (const std::string &name : order.names) {
        listing += (listing.empty() ? "" : ", ") + name;
    }
    outcome.text += "boot order: " + (order.names.empty() ? std::string("(none)") : listing) + "\n";
    JsonObject data;
    data.string("store", store.path())
        .raw(done, json_strings(changed))
        .raw("order", json_strings(order.names));
    if (!order.rejected.empty()) {
        data.raw("dropped", json_strings(order.rejected));
    }
    outcome.data = data.str();
    return outcome;
}

// Each operand once, as a package name the store accepts.
StepResult check_names(const std::vector<std::string> &names) {
    std::unordered_set<std::string> seen;
    for (const std::string &name : names) {
        const std::string problem = store_package_problem(name);
        if (!problem.empty()) {
            return step_failed(tesvar::LKP_INVALID_ARGUMENT, problem);
        }
        if (!seen.insert(name).second) {
            return step_failed(tesvar::LKP_INVALID_ARGUMENT, name + " is named twice");
        }
    }
    return {};
}

// Writes the package files, then the order file, then removes strays.
StepResult write_install(const StoreDir &store, const std::vector<std::string> &names,
                         const std::vector<std::string> &contents, const Order &order) {
    // The package files first: until the order file names them, boot ignores them.
    StepResult step;
    for (size_t k = 0; step.ok() && k < names.size(); ++k) {
        step = store.write_atomically(names[k], contents[k]);
    }
    if (step.ok()) {
        step = store.write_atomically(ORDER_FILE, order_text(order.names));
    }
    if (step.ok()) {
        remove_strays(store, order.names);
    }
    return step;
}

}  // namespace

std::string running_release() {
    struct utsname identity {};
    return uname(&identity) == 0 ? identity.release : "";
}

std::string store_dir(const Invocation &inv) {
    std::string root = inv.value("--root", "/");
    if (root.empty() || root.back() != '/') {
        root += '/';
    }
    return root + "var/lib/tesvar/" + printable(inv.value("--kernel-release", running_release()));
}

StepResult open_store(const Invocation &inv, bool create, StoreDir *store) {
    const std::string release = inv.value("--kernel-release", running_release());
    const std::string problem = release_problem(release);
    if (!problem.empty()) {
        return step_failed(tesvar::LKP_INVALID_ARGUMENT, problem);
    }
    return store->open(inv.value("--root", "/"), release, create);
}

StepResult open_order(const Invocation &inv, StoreDir *store, Order *order) {
    *order = Order{};
    StepResult step = open_store(inv, false, store);
    std::string text;
    bool missing = false;
    if (step.ok()) {
        step = store->read(ORDER_FILE, &text, &missing);
    }
    if (step.ok()) {
        *order = parse_order(text);
    }
    return step;
}

const ValueOption STORE_OPTIONS[] = {
    {"--root", nullptr, "DIR", "the root of the system image whose store is used (default /)"},
    {"--kernel-release", nullptr, "R",
     "the kernel release whose store is used (default: the running kernel's)"},
};
const size_t STORE_OPTION_COUNT = sizeof STORE_OPTIONS / sizeof STORE_OPTIONS[0];

const ValueOption INSTALL_OPTIONS[] = {
    STORE_OPTIONS[0],
    STORE_OPTIONS[1],
    {"--before", nullptr, "NAME", "place the packages just before installed package NAME"},
    {"--after", nullptr, "NAME", "place the packages just after installed package NAME"},
};
const size_t INSTALL_OPTION_COUNT = sizeof INSTALL_OPTIONS / sizeof INSTALL_OPTIONS[0];

Outcome run_install(const Invocation &inv) {
    if (inv.has("--before") && inv.has("--after")) {
        return usage_error("--before and --after cannot both be given");
    }
    std::vector<std::string> names;
    for (const std::string &path : inv.args) {
        names.push_back(base_name(path));
    }
    StepResult step = check_names(names);
    std::vector<std::string> contents(inv.args.size());
    for (size_t k = 0; step.ok() && k < inv.args.size(); ++k) {
        step = read_source(inv.args[k], &contents[k]);
    }
    const auto store = std::make_shared<StoreDir>();
    Order order;
    if (step.ok()) {
        step = open_order(inv, store.get(), &order);
    }
    if (step.ok()) {
        step = place(&order.names, names, inv);
    }
    if (step.ok() && !store->exists()) {
        step = open_store(inv, true, store.get());
    }
    if (!step.ok()) {
        return store_failure(step);
    }
    const auto before = std::make_shared<const StoreBefore>(store, names);
    step = write_install(*store, names, contents, order);
    if (!step.ok()) {
        return store_failure(step);
    }
    Outcome outcome = store_outcome(*store, names, order, "installed");
    outcome.undo = [before] { return before->undo_install(); };
    return outcome;
}

Outcome run_uninstall(const Invocation &inv) {
    StepResult step = check_names(inv.args);
    const auto store = std::make_shared<StoreDir>();
    Order order;
    if (step.ok()) {
        step = open_order(inv, store.get(), &order);
    }
    if (!step.ok()) {
        return store_failure(step);
    }
    const std::unordered_set<std::string> installed(order.names.begin(), order.names.end());
    for (const std::string &name : inv.args) {
        bool missing = false;
        step = installed.count(name) != 0
                   ? store->check_regular(name, &missing)
                   : step_failed(tesvar::LKP_FILE_MISSING,
                                 "'" + name + "' is not installed in " + store->path());
        if (!step.ok()) {
            return store_failure(step);
        }
    }
    const std::unordered_set<std::string> removed(inv.args.begin(), inv.args.end());
    order.names.erase(std::remove_if(order.names.begin(), order.names.end(),
                                     [&](const std::string &name) { return removed.count(name); }),
                      order.names.end());
    const auto before = std::make_shared<const StoreBefore>(store, inv.args);
    // The order file first: once it no longer names a package, boot ignores its file.
    step = store->write_atomically(ORDER_FILE, order_text(order.names));
    for (size_t k = 0; step.ok() && k < inv.args.size(); ++k) {
        step = store->remove(inv.args[k]);
    }
    if (step.ok()) {
        step = store->sync();
    }
    if (!step.ok()) {
        return store_failure(step);
    }
    Outcome outcome = store_outcome(*store, inv.args, order, "uninstalled");
    outcome.undo = [before] { return before->undo_uninstall(); };
    return outcome;
}

}  // namespace lkpctl
