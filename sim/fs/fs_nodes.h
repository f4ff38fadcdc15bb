// The tree that the file server shows, as the kernel side stands at the
// moment of asking. Mounted at FS_MOUNT_DIR, it holds:
//   proc/               the view bound onto /proc: every entry of the real
//                       procfs as a symbolic link into REAL_PROC_DIR, plus
//   proc/navo_lkp_list  while the manager module is inserted
//   proc/livepatch/state while the state file is present
//   proc/<pid>/task/<pid>/{patch_state,comm,stack}
//                       for each simulated task, in place of the real entry
//   livepatch/          bound onto /sys/kernel/livepatch: <patch>/enabled,
//                       <patch>/transition, <patch>/signal and
//                       <patch>/<module>/ while the patch module is inserted
#ifndef LKPSIM_FS_NODES_H
#define LKPSIM_FS_NODES_H

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace lkpsim {

constexpr const char *FS_MOUNT_DIR = "/run/lkpsim/fs";
constexpr const char *REAL_PROC_DIR = "/run/lkpsim/realproc";

enum class NodeKind {
    Root,
    ProcDir,
    ControlFile,
    ProcLivepatchDir,
    StateFile,
    ProcEntry,  // symbolic link to the real procfs entry
    LivepatchDir,
    PatchDir,
    EnabledFile,
    TransitionFile,
    SignalFile,
    TargetDir,
    TaskProcDir,  // proc/<pid> of a simulated task
    TaskListDir,  // proc/<pid>/task
    TaskDir,      // proc/<pid>/task/<pid>
    TaskFile,     // patch_state, comm or stack in a TaskDir
};

struct Node {
    NodeKind kind = NodeKind::Root;
    std::string patch;  // PatchDir, EnabledFile, TargetDir
    std::string link;   // ProcEntry
    int pid = 0;        // TaskProcDir, TaskListDir, TaskDir, TaskFile
    std::string file;   // TaskFile
};

// The node at `path` ("" is the root, "proc/self" an entry); false when
// nothing is there now.
bool resolve_node(const std::string &path, Node *node);
// The entries of a directory node now, with their kinds.
std::vector<std::pair<std::string, NodeKind>> list_node(const Node &dir);

bool is_directory(NodeKind kind);
mode_t mode_of(NodeKind kind);
// True for nodes that never change while they exist, which the kernel may cache.
bool is_stable(NodeKind kind);

}  // namespace lkpsim

#endif
