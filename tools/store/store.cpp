// Installing and uninstalling packages in the store, each change made
// atomic by writing a temporary name and renaming it over the old one.
#include "store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "frame/result_codes.h"
#include "json.h"
#include "pack_names.h"
#include "sys/owned_fd.h"

namespace lkpctl {
namespace {

constexpr mode_t DIR_MODE = 0755;
constexpr mode_t FILE_MODE = 0644;

// Counts the store's write steps; ends the process at the step
// LKPCTL_FAULT_AT names, leaving on disk whatever a power cut would.
bool fault_here() {
    static int step = 0;
    static const char *at = std::getenv("LKPCTL_FAULT_AT");  // NOLINT(concurrency-mt-unsafe)
    ++step;
    return at != nullptr && std::strtol(at, nullptr, 10) == step;
}

void cut_off() {
    _exit(EXIT_FAILED + 100);
}

// mkdir -p: every missing directory on the way to dir.
StepResult make_dirs(const std::string &dir) {
    for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1)) {
        if (mkdir(dir.substr(0, at).c_str(), DIR_MODE) != 0 && errno != EEXIST) {
            return errno_failure("cannot make " + dir.substr(0, at), errno);
        }
    }
    if (mkdir(dir.c_str(), DIR_MODE) != 0 && errno != EEXIST) {
        return errno_failure("cannot make " + dir, errno);
    }
    return {};
}

StepResult write_all(int fd, const std::string &bytes, const std::string &path) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return errno_failure("cannot write " + path, wrote < 0 ? errno : ENOSPC);
        }
        done += static_cast<size_t>(wrote);
    }
    return {};
}

StepResult sync_dir(const std::string &dir) {
    const tesvar::Fd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid() || fsync(fd.get()) != 0) {
        return errno_failure("cannot sync " + dir, errno);
    }
    return {};
}

// The whole file at path, or an explanation.
StepResult read_file(const std::string &path, std::string *bytes) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return errno_failure(path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return step_failed(tesvar::LKP_FILE_MISSING, path + " is not a regular file");
    }
    std::ifstream in(path, std::ios::binary);
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        return step_failed(tesvar::LKP_FILE_MISSING, "cannot read " + path);
    }
    return {};
}

std::string order_text(const std::vector<std::string> &order) {
    std::string text;
    for (const std::string &name : order) {
        text += name + "\n";
    }
    return text;
}

bool contains(const std::vector<std::string> &names, const std::string &name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Where the new names go: before or after the anchor, or in their old
// places (new ones at the end).
StepResult place(std::vector<std::string> *order, const std::vector<std::string> &names,
                 const Invocation &inv) {
    const bool before = inv.has("--before");
    if (!before && !inv.has("--after")) {
        for (const std::string &name : names) {
            if (!contains(*order, name)) {
                order->push_back(name);
            }
        }
        return {};
    }
    const std::string anchor = inv.value(before ? "--before" : "--after", "");
    if (contains(names, anchor)) {
        return step_failed(tesvar::LKP_INVALID_ARGUMENT,
                           "cannot place " + anchor + " next to itself");
    }
    order->erase(std::remove_if(order->begin(), order->end(),
                                [&](const std::string &name) { return contains(names, name); }),
                 order->end());
    auto at = std::find(order->begin(), order->end(), anchor);
    if (at == order->end()) {
        return step_failed(tesvar::LKP_FILE_MISSING, "'" + anchor + "' is not installed");
    }
    order->insert(before ? at : at + 1, names.begin(), names.end());
    return {};
}

// Removes what an interrupted change left in the store: temporaries and
// package files the order file does not name. Best effort: boot ignores them.
void remove_strays(const std::string &dir, const std::vector<std::string> &order) {
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (name != ORDER_FILE && !contains(order, name)) {
            (void)unlink(entry.path().c_str());
        }
    }
}

Outcome store_failure(const StepResult &step) {
    Outcome outcome = outcome_of(step.code);
    outcome.details.push_back(step.detail);
    return outcome;
}

std::string names_json(const std::vector<std::string> &names) {
    JsonArray array;
    for (const std::string &name : names) {
        array.string(name);
    }
    return array.str();
}

Outcome store_outcome(const Invocation &inv, const std::vector<std::string> &changed,
                      const std::vector<std::string> &order, const char *done) {
    Outcome outcome = outcome_of(0);
    for (const std::string &name : changed) {
        outcome.text += name + ": " + done + "\n";
    }
    std::string listing;
    for (const std::string &name : order) {
        listing += (listing.empty() ? "" : ", ") + name;
    }
    outcome.text += "boot order: " + (order.empty() ? std::string("(none)") : listing) + "\n";
    outcome.data = JsonObject()
                       .string("store", store_dir(inv))
                       .raw(done, names_json(changed))
                       .raw("order", names_json(order))
                       .str();
    return outcome;
}

// Each operand once, as a package name that fits the control file.
StepResult check_names(const std::vector<std::string> &names) {
    for (size_t k = 0; k < names.size(); ++k) {
        const std::string problem = package_key_problem(names[k]);
        if (!problem.empty()) {
            return step_failed(tesvar::LKP_INVALID_ARGUMENT, problem);
        }
        if (std::find(names.begin(), names.begin() + static_cast<long>(k), names[k]) !=
            names.begin() + static_cast<long>(k)) {
            return step_failed(tesvar::LKP_INVALID_ARGUMENT, names[k] + " is named twice");
        }
    }
    return {};
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
    return root + STORE_BASE + "/" + inv.value("--kernel-release", running_release());
}

std::vector<std::string> read_order(const std::string &dir) {
    std::ifstream in(dir + "/" + ORDER_FILE);
    std::vector<std::string> order;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#' && !contains(order, line)) {
            order.push_back(line);
        }
    }
    return order;
}

StepResult write_atomically(const std::string &dir, const std::string &name,
                            const std::string &bytes) {
    const std::string path = dir + "/" + name;
    const std::string temporary = dir + "/." + name + ".new";
    if (fault_here()) {
        cut_off();
    }
    const tesvar::Fd fd(
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, FILE_MODE));
    if (!fd.valid()) {
        return errno_failure("cannot create " + temporary, errno);
    }
    if (fault_here()) {
        (void)write_all(fd.get(), bytes.substr(0, bytes.size() / 2), temporary);
        cut_off();
    }
    StepResult step = write_all(fd.get(), bytes, temporary);
    if (!step.ok()) {
        (void)unlink(temporary.c_str());
        return step;
    }
    if (fault_here()) {
        cut_off();
    }
    if (fsync(fd.get()) != 0) {
        const int error = errno;
        (void)unlink(temporary.c_str());
        return errno_failure("cannot sync " + temporary, error);
    }
    if (fault_here()) {
        cut_off();
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        (void)unlink(temporary.c_str());
        return errno_failure("cannot rename " + temporary, error);
    }
    if (fault_here()) {
        cut_off();
    }
    return sync_dir(dir);
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
        step = read_file(inv.args[k], &contents[k]);
    }
    const std::string dir = store_dir(inv);
    std::vector<std::string> order = read_order(dir);
    if (step.ok()) {
        step = place(&order, names, inv);
    }
    if (step.ok()) {
        step = make_dirs(dir);
    }
    // The package files first: until the order file names them, boot ignores them.
    for (size_t k = 0; step.ok() && k < names.size(); ++k) {
        step = write_atomically(dir, names[k], contents[k]);
    }
    if (step.ok()) {
        step = write_atomically(dir, ORDER_FILE, order_text(order));
    }
    if (step.ok()) {
        remove_strays(dir, order);
    }
    return step.ok() ? store_outcome(inv, names, order, "installed") : store_failure(step);
}

Outcome run_uninstall(const Invocation &inv) {
    const std::string dir = store_dir(inv);
    std::vector<std::string> order = read_order(dir);
    for (const std::string &name : inv.args) {
        if (!contains(order, name)) {
            std::string problem = "'" + name;
            problem += "' is not installed in ";
            problem += dir;
            return store_failure(step_failed(tesvar::LKP_FILE_MISSING, problem));
        }
    }
    order.erase(std::remove_if(order.begin(), order.end(),
                               [&](const std::string &name) { return contains(inv.args, name); }),
                order.end());
    // The order file first: once it no longer names a package, boot ignores its file.
    StepResult step = write_atomically(dir, ORDER_FILE, order_text(order));
    for (size_t k = 0; step.ok() && k < inv.args.size(); ++k) {
        if (unlink((dir + "/" + inv.args[k]).c_str()) != 0 && errno != ENOENT) {
            step = errno_failure("cannot remove " + dir + "/" + inv.args[k], errno);
        }
    }
    if (step.ok()) {
        step = sync_dir(dir);
    }
    return step.ok() ? store_outcome(inv, inv.args, order, "uninstalled") : store_failure(step);
}

}  // namespace lkpctl
