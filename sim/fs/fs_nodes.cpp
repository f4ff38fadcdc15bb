// Path resolution and listing of the file server's tree.
#include "fs_nodes.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "kernel_state.h"
#include "module_table.h"
#include "transitions.h"

namespace lkpsim {

namespace {

constexpr const char *CONTROL_NAME = "navo_lkp_list";
constexpr const char *PROC_LIVEPATCH_NAME = "livepatch";
constexpr const char *STATE_NAME = "state";
constexpr const char *ENABLED_NAME = "enabled";
constexpr const char *TRANSITION_NAME = "transition";
constexpr const char *SIGNAL_NAME = "signal";
constexpr const char *TASK_LIST_NAME = "task";
constexpr const char *TASK_FILE_NAMES[] = {"patch_state", "comm", "stack"};

using Entries = std::vector<std::pair<std::string, NodeKind>>;

std::vector<std::string> components(const std::string &path) {
    std::vector<std::string> parts;
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = path.find('/', start);
        end = end == std::string::npos ? path.size() : end;
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool manager_present() {
    Kernel *kernel = shared_kernel();
    KernelLock lock(kernel);
    return manager_loaded(kernel);
}

bool state_present() {
    Kernel *kernel = shared_kernel();
    KernelLock lock(kernel);
    return kernel->state_file_present != 0;
}

// The pid a proc entry names when it is a simulated task's, else 0.
int simulated_pid(const std::string &name) {
    if (name.empty() || name.size() > 9 ||
        name.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    const int pid = std::stoi(name);
    Kernel *kernel = shared_kernel();
    KernelLock lock(kernel);
    return find_task(*kernel, pid) != nullptr ? pid : 0;
}

bool is_task_file(const std::string &name) {
    for (const char *file : TASK_FILE_NAMES) {
        if (name == file) {
            return true;
        }
    }
    return false;
}

// proc/<pid>/... of a simulated task: parts[1] is its pid.
bool resolve_task(const std::vector<std::string> &parts, int pid, Node *node) {
    node->pid = pid;
    const std::size_t depth = parts.size();
    if (depth > 2 && parts[2] != TASK_LIST_NAME) {
        return false;
    }
    if (depth > 3 && parts[3] != parts[1]) {
        return false;
    }
    static constexpr NodeKind KINDS[] = {NodeKind::TaskProcDir, NodeKind::TaskListDir,
                                         NodeKind::TaskDir, NodeKind::TaskFile};
    if (depth < 2 || depth > 5) {
        return false;
    }
    node->kind = KINDS[depth - 2];
    if (depth == 5) {
        node->file = parts[4];
        return is_task_file(node->file);
    }
    return true;
}

bool resolve_proc(const std::string &name, Node *node) {
    if (name == CONTROL_NAME) {
        node->kind = NodeKind::ControlFile;
        return manager_present();
    }
    if (name == PROC_LIVEPATCH_NAME) {
        node->kind = NodeKind::ProcLivepatchDir;
        return state_present();
    }
    struct stat status {};
    node->kind = NodeKind::ProcEntry;
    node->link = std::string(REAL_PROC_DIR) + "/" + name;
    return name != "." && name != ".." && lstat(node->link.c_str(), &status) == 0;
}

// A patch directory or something in it ("" for the directory itself).
bool resolve_patch(const std::string &patch, const std::string &entry, Node *node) {
    Kernel *kernel = shared_kernel();
    KernelLock lock(kernel);
    (void)patch_in_transition(kernel);  // a transition that has ended may free the patch
    const Module *module = find_module(kernel, patch);
    if (module == nullptr || !has_livepatch_dir(*module)) {
        return false;
    }
    node->patch = patch;
    if (entry.empty() || entry == ENABLED_NAME) {
        node->kind = entry.empty() ? NodeKind::PatchDir : NodeKind::EnabledFile;
        return true;
    }
    if (entry == TRANSITION_NAME || entry == SIGNAL_NAME) {
        node->kind = entry == SIGNAL_NAME ? NodeKind::SignalFile : NodeKind::TransitionFile;
        return true;
    }
    node->kind = NodeKind::TargetDir;
    for (std::size_t i = 0; i < module->target_count.get(); ++i) {
        if (name_is(module->targets[i], entry)) {
            return true;
        }
    }
    return false;
}

// The simulated tasks' pids, listed in place of any real process's.
std::vector<std::string> simulated_pids() {
    std::vector<std::string> pids;
    Kernel *kernel = shared_kernel();
    KernelLock lock(kernel);
    for (std::size_t i = 0; i < kernel->transition.task_count.get(); ++i) {
        pids.push_back(std::to_string(kernel->transition.tasks[i].pid.get()));
    }
    return pids;
}

Entries list_proc() {
    const std::vector<std::string> pids = simulated_pids();
    Entries entries;
    for (const std::string &pid : pids) {
        entries.emplace_back(pid, NodeKind::TaskProcDir);
    }
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(REAL_PROC_DIR), closedir);
    for (const dirent *entry = dir ? readdir(dir.get()) : nullptr; entry != nullptr;
         entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != ".." && name != CONTROL_NAME && name != PROC_LIVEPATCH_NAME &&
            std::find(pids.begin(), pids.end(), name) == pids.end()) {
            entries.emplace_back(name, NodeKind::ProcEntry);
        }
    }
    if (manager_present()) {
        entries.emplace_back(CONTROL_NAME, NodeKind::ControlFile);
    }
    if (state_present()) {
        entries.emplace_back(PROC_LIVEPATCH_NAME, NodeKind::ProcLivepatchDir);
    }
    return entries;
}

Entries list_livepatch() {
    Entries entries;
    Kernel *kernel = shared_kernel();
    KernelLock lock(kernel);
    (void)patch_in_transition(kernel);
    for (std::size_t i = 0; i < kernel->module_count.get(); ++i) {
        if (has_livepatch_dir(kernel->modules[i])) {
            entries.emplace_back(name_of(kernel->modules[i].name), NodeKind::PatchDir);
        }
    }
    return entries;
}

Entries list_patch(const std::string &patch) {
    Entries entries;
    Kernel *kernel = shared_kernel();
    KernelLock lock(kernel);
    const Module *module = find_module(kernel, patch);
    if (module == nullptr || !has_livepatch_dir(*module)) {
        return entries;
    }
    entries.emplace_back(ENABLED_NAME, NodeKind::EnabledFile);
    entries.emplace_back(TRANSITION_NAME, NodeKind::TransitionFile);
    entries.emplace_back(SIGNAL_NAME, NodeKind::SignalFile);
    for (std::size_t i = 0; i < module->target_count.get(); ++i) {
        entries.emplace_back(name_of(module->targets[i]), NodeKind::TargetDir);
    }
    return entries;
}

}  // namespace

bool resolve_node(const std::string &path, Node *node) {
    const std::vector<std::string> parts = components(path);
    *node = Node{};
    if (parts.empty()) {
        return true;
    }
    if (parts[0] == "proc") {
        if (parts.size() == 1) {
            node->kind = NodeKind::ProcDir;
            return true;
        }
        const int pid = simulated_pid(parts[1]);
        if (pid != 0) {
            return resolve_task(parts, pid, node);
        }
        if (parts.size() == 2) {
            return resolve_proc(parts[1], node);
        }
        node->kind = NodeKind::StateFile;
        return parts.size() == 3 && parts[1] == PROC_LIVEPATCH_NAME && parts[2] == STATE_NAME &&
               state_present();
    }
    if (parts[0] == "livepatch") {
        if (parts.size() == 1) {
            node->kind = NodeKind::LivepatchDir;
            return true;
        }
        return parts.size() <= 3 &&
               resolve_patch(parts[1], parts.size() == 3 ? parts[2] : "", node);
    }
    return false;
}

std::vector<std::pair<std::string, NodeKind>> list_node(const Node &dir) {
    switch (dir.kind) {
        case NodeKind::Root:
            return {{"proc", NodeKind::ProcDir}, {"livepatch", NodeKind::LivepatchDir}};
        case NodeKind::ProcDir:
            return list_proc();
        case NodeKind::ProcLivepatchDir:
            return {{STATE_NAME, NodeKind::StateFile}};
        case NodeKind::LivepatchDir:
            return list_livepatch();
        case NodeKind::PatchDir:
            return list_patch(dir.patch);
        case NodeKind::TaskProcDir:
            return {{TASK_LIST_NAME, NodeKind::TaskListDir}};
        case NodeKind::TaskListDir:
            return {{std::to_string(dir.pid), NodeKind::TaskDir}};
        case NodeKind::TaskDir: {
            Entries entries;
            for (const char *file : TASK_FILE_NAMES) {
                entries.emplace_back(file, NodeKind::TaskFile);
            }
            return entries;
        }
        default:
            return {};
    }
}

bool is_directory(NodeKind kind) {
    switch (kind) {
        case NodeKind::Root:
        case NodeKind::ProcDir:
        case NodeKind::ProcLivepatchDir:
        case NodeKind::LivepatchDir:
        case NodeKind::PatchDir:
        case NodeKind::TargetDir:
        case NodeKind::TaskProcDir:
        case NodeKind::TaskListDir:
        case NodeKind::TaskDir:
            return true;
        default:
            return false;
    }
}

mode_t mode_of(NodeKind kind) {
    if (is_directory(kind)) {
        return S_IFDIR | 0755;
    }
    switch (kind) {
        case NodeKind::ProcEntry:
            return S_IFLNK | 0777;
        case NodeKind::StateFile:
        case NodeKind::TransitionFile:
        case NodeKind::TaskFile:
            return S_IFREG | 0444;
        case NodeKind::SignalFile:
            return S_IFREG | 0200;
        default:
            return S_IFREG | 0644;
    }
}

bool is_stable(NodeKind kind) {
    return kind == NodeKind::Root || kind == NodeKind::ProcDir || kind == NodeKind::LivepatchDir ||
           kind == NodeKind::ProcEntry;
}

}  // namespace lkpsim
