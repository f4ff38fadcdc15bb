// Base names, suffix checks and the single entry of an extracted directory.
#include "sys/names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "frame/bounded.h"
#include "frame/log.h"
#include "frame/result_codes.h"
#include "sys/owned.h"
#include "sys/text_buffer.h"

namespace tesvar {

bool is_dot_entry(const char *name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

char *get_file_name(const char *path) {
    // The name is searched in a copy, never in the caller's text.
    const HeapText copy(strdup(path));
    if (!copy) {
        lkp_log(LKP_ERR, "get_file_name: Failed to strdup.");
        return nullptr;
    }
    HeapText result = new_text_buffer();
    if (!result) {
        lkp_log(LKP_ERR, "get_file_name: Failed to malloc.");
        return nullptr;
    }
    const char *slash = std::strrchr(copy.get(), '/');
    const char *name = slash != nullptr ? slash + 1 : copy.get();
    // An empty name (empty path, trailing '/') fails here like an overlong one.
    const int written =
        snprintf_s(result.get(), PATH_BUFFER_SIZE, PATH_BUFFER_SIZE - 1, "%s", name);
    if (!is_whole_text(written, PATH_BUFFER_SIZE)) {
        lkp_log(LKP_ERR, "get_file_name: Faield to snprintf.");
        return nullptr;
    }
    return result.release();
}

int check_file_postfix(const char *name, const char *postfix) {
    if (name == nullptr || postfix == nullptr) {
        lkp_log(LKP_ERR, "check_file_postfix: The input parameter is NULL.");
        return LKP_INVALID_ARGUMENT;
    }
    const size_t name_length = std::strlen(name);
    const size_t postfix_length = std::strlen(postfix);
    // At least one character must come before the suffix.
    if (name_length <= postfix_length ||
        std::memcmp(name + name_length - postfix_length, postfix, postfix_length) != 0) {
        lkp_log(LKP_ERR, "check_file_postfix: The file is not matched.");
        return LKP_INVALID_PATCH;
    }
    return LKP_OK;
}

bool is_plain_entry(DIR *dir, const char *name) {
    struct stat status {};
    if (fstatat(dirfd(dir), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    return S_ISDIR(status.st_mode) || S_ISREG(status.st_mode);
}

bool is_plain_file(const char *path) {
    struct stat status {};
    return path != nullptr && lstat(path, &status) == 0 && S_ISREG(status.st_mode);
}

char *get_child_dir(const char *dir) {
    HeapText child = new_text_buffer();
    if (!child) {
        return nullptr;
    }
    DirStream stream(opendir(dir));
    if (!stream) {
        return nullptr;
    }
    size_t count = 0;
    for (const dirent *entry = readdir(stream.get()); entry != nullptr;
         entry = readdir(stream.get())) {
        // A link, FIFO, device or socket is never followed or opened: it
        // counts as absent.
        if (is_dot_entry(entry->d_name) || !is_plain_entry(stream.get(), entry->d_name)) {
            continue;
        }
        ++count;
        const int written = snprintf_s(child.get(), PATH_BUFFER_SIZE, PATH_BUFFER_SIZE - 1, "%s/%s",
                                       dir, entry->d_name);
        if (!is_whole_text(written, PATH_BUFFER_SIZE)) {
            return nullptr;
        }
    }
    stream.close();
    // Only a directory with exactly one entry has a child to name.
    return count == 1 ? child.release() : nullptr;
}

}  // namespace tesvar
