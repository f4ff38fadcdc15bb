// The lkpsim API: entering the simulated kernel side, observing it and
// arranging scenes in it.
#include "lkpsim/lkpsim.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "history.h"
#include "host_side.h"
#include "kernel_state.h"
#include "lkpsim/module_image.h"
#include "log_capture.h"
#include "module_table.h"
#include "records.h"
#include "sim_paths.h"

namespace lkpsim {

namespace {

bool g_entered = false;
bool g_attached = false;

[[noreturn]] void die(const std::string &why) {
    std::fprintf(stderr, "lkpsim: %s\n", why.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

void require(bool ok, const std::string &what) {
    if (!ok) {
        die(what);
    }
}

// For a failed system call: the reason is in errno.
void require_call(bool ok, const std::string &what) {
    if (!ok) {
        die(what + ": " + std::strerror(errno));
    }
}

Kernel *kernel() {
    Kernel *kernel = g_entered || g_attached ? shared_kernel() : nullptr;
    if (kernel == nullptr) {
        die("lkpsim::enter() or attach() has not run in this process");
    }
    return kernel;
}

void arm(Fault Kernel::*fault, int error, const std::string &name) {
    Fault armed{};
    armed.armed = 1;
    armed.error.set(error);
    require(set_name(&armed.name, name), "module name too long: " + name);
    Kernel *k = kernel();
    KernelLock lock(k);
    k->*fault = armed;
}

void set_raw(RawText Kernel::*raw, const std::string &text) {
    require(text.size() <= RAW_TEXT_SIZE, "raw text too long");
    Kernel *k = kernel();
    KernelLock lock(k);
    std::memcpy((k->*raw).text, text.data(), text.size());
    (k->*raw).length.set(static_cast<std::uint32_t>(text.size()));
    (k->*raw).set = 1;
}

void remove_manager_module() {
    const std::string path = manager_module_path();
    require_call(unlink(path.c_str()) == 0 || errno == ENOENT, "remove " + path);
}

void place_manager_module() {
    ModuleSpec spec;
    spec.name = MANAGER_MODULE;
    require(write_module_file(manager_module_path(), spec), "write " + manager_module_path());
}

}  // namespace

// The client part: a kernel block already in this namespace means the host
// part was prepared by the launcher (an emulated process); otherwise this
// process prepares it itself. Either way the system log is captured here.
void enter() {
    if (g_entered) {
        return;
    }
    std::string error;
    if (shared_kernel() == nullptr) {
        require(prepare_host_side(&error), error);
    }
    require(shared_kernel() != nullptr, "no kernel state to attach to");
    require(start_log_capture(&error), error);
    g_entered = true;
}

bool entered() {
    return g_entered;
}

bool attach() {
    g_attached = g_entered || shared_kernel() != nullptr;
    return g_attached;
}

bool upstream_by_default() {
    const char *model = std::getenv(KERNEL_MODEL_VARIABLE);
    return model != nullptr && std::string(model) == "upstream";
}

void reset() {
    Kernel *k = kernel();
    {
        KernelLock lock(k);
        reset_kernel(k);
        k->enable_on_insert = upstream_by_default() ? 1 : 0;
    }
    remove_manager_module();
    take_captured_log();
}

std::vector<std::string> history() {
    Kernel *k = kernel();
    KernelLock lock(k);
    return history_lines(*k);
}

std::vector<std::string> history(const std::string &kind) {
    std::vector<std::string> lines;
    for (std::string &line : history()) {
        if (history_kind_is(line, kind)) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

void clear_history() {
    Kernel *k = kernel();
    KernelLock lock(k);
    clear_history_lines(k);
}

std::vector<LogLine> take_log() {
    if (!g_entered) {
        die("lkpsim::take_log() needs enter(): only the entering process captures the log");
    }
    return take_captured_log();
}

std::vector<std::string> take_log_texts() {
    std::vector<std::string> texts;
    for (LogLine &line : take_log()) {
        if (!line.text.empty() && line.text.back() == '\n') {
            line.text.pop_back();
        }
        texts.push_back(std::move(line.text));
    }
    return texts;
}

std::vector<std::string> inserted_modules() {
    Kernel *k = kernel();
    KernelLock lock(k);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < k->module_count.get(); ++i) {
        names.emplace_back(name_of(k->modules[i].name));
    }
    return names;
}

bool module_inserted(const std::string &name) {
    Kernel *k = kernel();
    KernelLock lock(k);
    return find_module(k, name) != nullptr;
}

std::vector<std::string> records() {
    Kernel *k = kernel();
    KernelLock lock(k);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < k->record_count.get(); ++i) {
        lines.push_back(record_line(k->records[i]));
    }
    return lines;
}

std::string patch_state(const std::string &patch) {
    Kernel *k = kernel();
    KernelLock lock(k);
    const Record *record = find_patch_record(k, patch);
    return record == nullptr ? "" : std::string(name_of(record->state));
}

void set_target_loaded(const std::string &module, bool loaded) {
    Kernel *k = kernel();
    KernelLock lock(k);
    set_target(k, module, loaded);
}

void insert_patch(const std::string &patch, const std::vector<std::string> &targets) {
    Kernel *k = kernel();
    KernelLock lock(k);
    if (find_module(k, patch) == nullptr) {
        require(force_insert(k, patch, targets, patch != MANAGER_MODULE), "cannot insert " + patch);
    }
}

void insert_plain_module(const std::string &name) {
    Kernel *k = kernel();
    KernelLock lock(k);
    if (find_module(k, name) == nullptr) {
        require(force_insert(k, name, {}, false), "cannot insert " + name);
    }
}

void register_patch(int num, const std::string &pkg, const std::string &patch) {
    Kernel *k = kernel();
    KernelLock lock(k);
    require(add_record(k, num, pkg, patch), "cannot register " + patch);
}

void set_patch_state(const std::string &patch, const std::string &state) {
    Kernel *k = kernel();
    KernelLock lock(k);
    require(set_record_state(k, patch, state), "no record of " + patch + " takes " + state);
}

void refuse_next_op(int error, const std::string &word) {
    arm(&Kernel::op_fault, error, word);
}

void refuse_next_enable(int error) {
    arm(&Kernel::enable_fault, error, "");
}

void fail_next_init(int error, const std::string &name) {
    arm(&Kernel::init_fault, error, name);
}

void fail_next_delete(int error, const std::string &name) {
    arm(&Kernel::delete_fault, error, name);
}

void hide_livepatch_dir(const std::string &patch) {
    Kernel *k = kernel();
    KernelLock lock(k);
    Module *module = find_module(k, patch);
    require(module != nullptr, "no inserted module " + patch);
    module->hidden = 1;
}

void set_manager(Manager manager) {
    Kernel *k = kernel();
    {
        KernelLock lock(k);
        if (manager == Manager::Loaded) {
            if (!manager_loaded(k)) {
                force_insert(k, MANAGER_MODULE, {}, false);
            }
        } else {
            remove_module(k, MANAGER_MODULE);
        }
        k->manager_refused = manager == Manager::AbsentRefused ? 1 : 0;
    }
    remove_manager_module();
    if (manager == Manager::AbsentInsertable || manager == Manager::AbsentRefused) {
        place_manager_module();
    }
}

void set_state_file_present(bool present) {
    Kernel *k = kernel();
    KernelLock lock(k);
    k->state_file_present = present ? 1 : 0;
}

void set_enable_on_insert(bool on) {
    Kernel *k = kernel();
    KernelLock lock(k);
    k->enable_on_insert = on ? 1 : 0;
}

void set_free_window(int removals) {
    Kernel *k = kernel();
    KernelLock lock(k);
    k->free_window.set(static_cast<std::uint32_t>(removals < 0 ? 0 : removals));
}

void set_raw_control(const std::string &text) {
    set_raw(&Kernel::raw_control, text);
}

void set_raw_state(const std::string &text) {
    set_raw(&Kernel::raw_state, text);
}

void clear_raw() {
    Kernel *k = kernel();
    KernelLock lock(k);
    k->raw_control.set = 0;
    k->raw_state.set = 0;
}

std::string manager_module_path() {
    return manager_module_dir() + "/" + MANAGER_MODULE + ".ko";
}

std::string scratch_root() {
    return SCRATCH_DIR;
}

}  // namespace lkpsim
