// Reading and writing the kernel files.
#include "fs_open_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "kernel_files.h"
#include "kernel_state.h"
#include "records.h"
#include "transitions.h"

namespace lkpsim {

namespace {

constexpr std::size_t MAX_WRITTEN = 65536;

std::string task_text(Kernel *kernel, int pid, const std::string &file) {
    const Task *task = find_task(*kernel, pid);
    if (task == nullptr) {
        return "";
    }
    if (file == "patch_state") {
        return task_patch_state_text(kernel, *task);
    }
    if (file == "comm") {
        return std::string(name_of(task->comm)) + "\n";
    }
    return std::string(task->stack, strnlen(task->stack, sizeof task->stack));
}

bool read_only(NodeKind kind) {
    return kind == NodeKind::StateFile || kind == NodeKind::TransitionFile ||
           kind == NodeKind::TaskFile;
}

std::string text_of(const Node &node) {
    Kernel *kernel = shared_kernel();
    KernelLock lock(kernel);
    switch (node.kind) {
        case NodeKind::ControlFile:
            return control_text(*kernel);
        case NodeKind::StateFile:
            return state_text(*kernel);
        case NodeKind::TransitionFile:
            return transition_text(kernel, node.patch);
        case NodeKind::TaskFile:
            return task_text(kernel, node.pid, node.file);
        default:
            return enabled_text(kernel, node.patch);
    }
}

}  // namespace

std::unique_ptr<OpenFile> OpenFile::open(const Node &node, int flags, int *error) {
    if (is_directory(node.kind)) {
        *error = EISDIR;
        return nullptr;
    }
    const int access = flags & O_ACCMODE;
    if (node.kind == NodeKind::ProcEntry || (access != O_RDONLY && read_only(node.kind)) ||
        (access != O_WRONLY && node.kind == NodeKind::SignalFile)) {
        *error = EACCES;
        return nullptr;
    }
    std::unique_ptr<OpenFile> file(new OpenFile(node));
    if (access != O_WRONLY) {
        file->content_ = text_of(node);
    }
    return file;
}

std::string_view OpenFile::read(std::size_t size, off_t offset) const {
    const std::string_view content = content_;
    const auto start = static_cast<std::size_t>(offset);
    return start >= content.size() ? std::string_view() : content.substr(start, size);
}

int OpenFile::write(const char *data, std::size_t size) {
    if (written_.size() + size > MAX_WRITTEN) {
        return EFBIG;
    }
    written_.append(data, size);
    pending_ = true;
    return 0;
}

int OpenFile::finish() {
    if (!pending_) {
        return 0;
    }
    pending_ = false;
    const std::string text = std::move(written_);
    written_.clear();
    Kernel *kernel = shared_kernel();
    KernelLock lock(kernel);
    if (node_.kind == NodeKind::ControlFile) {
        return judge_op_text(kernel, text);
    }
    if (node_.kind == NodeKind::SignalFile) {
        return judge_signal_text(kernel, node_.patch, text);
    }
    return judge_enable_text(kernel, node_.patch, text);
}

}  // namespace lkpsim
