// Reading the livepatch tree for the transition wait: each patch's
// "transition" and "enabled" files, one byte each.
#include "kernel/transition_wait.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "frame/bounded.h"
#include "frame/log.h"
#include "kernel/kernel_paths.h"
#include "sys/file_access.h"
#include "sys/names.h"
#include "sys/owned.h"
#include "sys/text_buffer.h"

namespace tesvar {

namespace {

// dir/name/leaf; false when it does not fit.
bool build_path(char (&path)[PATH_BUFFER_SIZE], const char *name, const char *leaf) {
    return is_whole_text(
        snprintf_s(path, sizeof(path), sizeof(path) - 1, "%s/%s/%s", LIVEPATCH_DIR, name, leaf),
        PATH_BUFFER_SIZE);
}

// The first character of a patch's small livepatch file, '\0' when it cannot
// be read (a patch the kernel has just freed, for one).
char first_char(const char *patch_name, const char *leaf) {
    char path[PATH_BUFFER_SIZE];
    if (!build_path(path, patch_name, leaf)) {
        return '\0';
    }
    const Fd file(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    char first = '\0';
    if (!file.valid() || read(file.get(), &first, 1) != 1) {
        return '\0';
    }
    return first;
}

}  // namespace

bool is_patch_enabled(const char *patch_name) {
    return first_char(patch_name, "enabled") == '1';
}

bool has_livepatch_dir(const char *patch_name) {
    char path[PATH_BUFFER_SIZE];
    struct stat status {};
    // "dir/name/": only a directory is found under a trailing slash.
    return build_path(path, patch_name, "") && stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

namespace {

// The first patch in transition that `skip` does not pass over.
template <typename Skip>
bool find_in_transition(char (&name)[NAME_SIZE], Skip skip) {
    const DirStream tree(opendir(LIVEPATCH_DIR));
    if (!tree) {
        return false;
    }
    for (const dirent *entry = readdir(tree.get()); entry != nullptr; entry = readdir(tree.get())) {
        if (is_dot_entry(entry->d_name) || skip(entry->d_name) ||
            first_char(entry->d_name, "transition") != '1') {
            continue;
        }
        const size_t length = strnlen(entry->d_name, NAME_SIZE - 1);
        std::memcpy(name, entry->d_name, length);
        name[length] = '\0';
        return true;
    }
    return false;
}

template <typename Skip>
bool wait_until_quiet_but(Backoff &backoff, Skip skip) {
    char name[NAME_SIZE];
    while (find_in_transition(name, skip)) {
        if (!backoff.pause()) {
            return false;
        }
    }
    return true;
}

bool is_listed(list_head *head, const char *patch_name) {
    if (head == nullptr) {
        return false;
    }
    for (list_head *pos = head->next; pos != head; pos = pos->next) {
        if (std::strncmp(node_of(pos)->patch_name, patch_name, NAME_SIZE) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool find_patch_in_transition(char (&name)[NAME_SIZE], const char *except) {
    return find_in_transition(name, [except](const char *patch_name) {
        return except != nullptr && std::strcmp(patch_name, except) == 0;
    });
}

bool wait_until_quiet(Backoff &backoff, const char *except) {
    return wait_until_quiet_but(backoff, [except](const char *patch_name) {
        return except != nullptr && std::strcmp(patch_name, except) == 0;
    });
}

bool wait_until_others_quiet(Backoff &backoff, list_head *own) {
    return wait_until_quiet_but(
        backoff, [own](const char *patch_name) { return is_listed(own, patch_name); });
}

void log_wait_gave_up(const char *subject) {
    char name[NAME_SIZE];
    if (find_patch_in_transition(name)) {
        lkp_log(LKP_ERR, "Gave up waiting after %d s: %s is still in transition.",
                wait_bound_seconds(), name);
    } else {
        lkp_log(LKP_ERR, "Gave up waiting after %d s: the kernel still answers %s as busy.",
                wait_bound_seconds(), subject);
    }
}

}  // namespace tesvar
