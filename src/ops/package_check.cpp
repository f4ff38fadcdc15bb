// The layout and "content" manifest check of an extracted patch package: a
// single package directory holding the manifest and unit archives only, a
// manifest head of four keyed lines, and one unit list line per archive.
#include "ops/package_check.h"

#include <dirent.h>

#include <cstdlib>
#include <cstring>

#include "frame/bounded.h"
#include "frame/log.h"
#include "frame/result_codes.h"
#include "sys/file_access.h"
#include "sys/names.h"
#include "sys/owned.h"
#include "sys/text_buffer.h"
#include "tesvar.h"

namespace tesvar {

namespace {

constexpr int UNIT_COUNT_LINE = TESVAR_HEAD_INFO_SIZE - 1;
constexpr ssize_t MAX_LINE_LENGTH = PATH_BUFFER_SIZE - 1;  // line feed included

// One manifest line at a time, never more than MAX_LINE_LENGTH + 1 bytes of
// it: a longer line is reported as too long without reading the rest.
class ManifestLine {
public:
    // The line's length, its line feed included; -1 at the end of the stream
    // (or on a read error); MAX_LINE_LENGTH + 1 for a line that is too long.
    ssize_t read(FILE *stream) noexcept {
        ssize_t length = 0;
        while (length <= MAX_LINE_LENGTH) {
            const int byte = getc_unlocked(stream);
            if (byte == EOF) {
                break;
            }
            text_[length++] = static_cast<char>(byte);
            if (byte == '\n') {
                break;
            }
        }
        text_[length] = '\0';
        return length == 0 ? -1 : length;
    }
    char *data() noexcept { return text_; }

private:
    char text_[MAX_LINE_LENGTH + 2] = {};
};

bool is_skipped_entry(const char *name) {
    return is_dot_entry(name) || std::strcmp(name, MANIFEST_NAME) == 0;
}

// Counts the unit archives of the package directory; every entry other than
// the manifest must be one. False when the directory cannot be read, holds a
// stray entry or no archive at all.
bool count_unit_archives(const char *pkg_dir, int32_t *count) {
    DirStream dir(opendir(pkg_dir));
    if (!dir) {
        return false;
    }
    const dirent *entry = readdir(dir.get());
    if (entry == nullptr) {
        return false;
    }
    int32_t found = 0;
    for (; entry != nullptr; entry = readdir(dir.get())) {
        // Links and special files count as absent (see get_child_dir).
        if (is_skipped_entry(entry->d_name) || !is_plain_entry(dir.get(), entry->d_name)) {
            continue;
        }
        if (check_file_postfix(entry->d_name, UNIT_SUFFIX) != 0) {
            return false;
        }
        ++found;
    }
    if (dir.close() != 0 || found == 0) {
        return false;
    }
    *count = found;
    return true;
}

// Reads one unit list line into a unit node: the file name must be 1 to 63
// bytes, hold no '/', and name a regular file in the package directory.
bool read_unit(FILE *manifest, const char *pkg_dir, ManifestLine *line, char *path,
               list_head *units) {
    ssize_t length = line->read(manifest);
    if (length < 1 || length > MAX_LINE_LENGTH) {
        return false;
    }
    char *name = line->data();
    name[length - 1] = '\0';
    // Only names inside the package directory are units.
    if (std::strchr(name, '/') != nullptr) {
        return false;
    }
    const int joined =
        snprintf_s(path, PATH_BUFFER_SIZE, PATH_BUFFER_SIZE - 1, "%s/%s", pkg_dir, name);
    if (!is_whole_text(joined, PATH_BUFFER_SIZE) || !is_plain_file(path)) {
        return false;
    }
    patch_node *node = create_patch_node(name);
    if (node == nullptr) {
        return false;
    }
    list_add_tail(&node->list, units);
    return true;
}

// Each node against every later one, from the last backwards.
bool has_repeated_name(list_head *units) {
    for (list_head *first = units->next; first != units; first = first->next) {
        for (list_head *later = units->prev; later != first; later = later->prev) {
            if (std::strncmp(node_of(first)->patch_name, node_of(later)->patch_name, NAME_SIZE) ==
                0) {
                return true;
            }
        }
    }
    return false;
}

// The unit list: exactly `count` lines, then the end of the file.
bool read_unit_list(FILE *manifest, const char *pkg_dir, int32_t count, list_head *units) {
    ManifestLine line;
    HeapText path = new_text_buffer();
    if (!path) {
        return false;
    }
    for (int32_t k = 0; k < count; ++k) {
        if (!read_unit(manifest, pkg_dir, &line, path.get(), units)) {
            return false;
        }
    }
    return line.read(manifest) == -1 && !has_repeated_name(units);
}

}  // namespace

int read_manifest(FILE *manifest, const char *pkg_dir, int32_t found, list_head *units) {
    if (check_content_head(manifest, found) != 0) {
        return LKP_INVALID_ARGUMENT;
    }
    if (!read_unit_list(manifest, pkg_dir, found, units)) {
        lkp_log(LKP_ERR, "check_pkg_available: Failed to get the patch tar.");
        return LKP_INVALID_ARGUMENT;
    }
    return LKP_OK;
}

namespace {

int check_manifest(const char *pkg_dir, int32_t found, list_head *units) {
    // A manifest that is a link or a special file is as absent as a missing one.
    char path[PATH_BUFFER_SIZE] = {};
    const int joined =
        snprintf_s(path, sizeof path, sizeof path - 1, "%s/%s", pkg_dir, MANIFEST_NAME);
    if (is_whole_text(joined, PATH_BUFFER_SIZE) && !is_plain_file(path)) {
        lkp_log(LKP_ERR, "open_file: The file is not existent.");
        return LKP_INVALID_ARGUMENT;
    }
    Stream manifest(open_file("r", "%s/%s", pkg_dir, MANIFEST_NAME));
    if (!manifest) {
        return LKP_INVALID_ARGUMENT;
    }
    return read_manifest(manifest.get(), pkg_dir, found, units);
}

int check_pkg_dir(const char *pkg_dir, list_head *units, int32_t *unit_count) {
    int32_t found = 0;
    if (!count_unit_archives(pkg_dir, &found)) {
        lkp_log(LKP_ERR, "Failed to check the patch format.");
        return LKP_INVALID_ARGUMENT;
    }
    int rc = check_manifest(pkg_dir, found, units);
    if (rc == LKP_OK) {
        *unit_count = found;
    }
    return rc;
}

}  // namespace

int check_pkg_available(const char *extract_dir, list_head *units, int32_t *unit_count) {
    HeapText pkg_dir(get_child_dir(extract_dir));
    if (!pkg_dir) {
        lkp_log(LKP_ERR, "check_pkg_available: Failed to get the child dir.");
        return LKP_INVALID_ARGUMENT;
    }
    int rc = check_pkg_dir(pkg_dir.get(), units, unit_count);
    if (rc != LKP_OK) {
        lkp_log(LKP_ERR, "check_pkg_available Failed.");
    }
    return rc;
}

namespace {

// Reads head line `index` and checks that it begins with its key.
bool read_head_line(FILE *manifest, ManifestLine *line, int index, ssize_t *length) {
    *length = line->read(manifest);
    if (*length == -1 || *length > MAX_LINE_LENGTH) {
        lkp_log(LKP_ERR, "check_content_head: Failed to getline.");
        return false;
    }
    const char *key = head_info[index];
    if (std::strncmp(line->data(), key, std::strlen(key)) != 0) {
        lkp_log(LKP_ERR, "check_content_head: Line %d is not %s.", index, key);
        return false;
    }
    return true;
}

}  // namespace

int check_content_head(FILE *manifest, int32_t found) {
    constexpr int FAILED = -1;
    ManifestLine line;
    ssize_t length = 0;
    for (int i = 0; i < TESVAR_HEAD_INFO_SIZE; ++i) {
        if (!read_head_line(manifest, &line, i, &length)) {
            return FAILED;
        }
    }
    line.data()[length - 1] = '\0';
    // Compared as read, so that no out-of-range count can wrap onto found.
    long count = std::strtol(line.data() + std::strlen(head_info[UNIT_COUNT_LINE]), nullptr, 10);
    if (count != found) {
        lkp_log(LKP_ERR, "check_content_head: The total number is not match.");
        return FAILED;
    }
    return 0;
}

}  // namespace tesvar
