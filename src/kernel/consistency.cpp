// The consistency check of the control file against the state file. The
// state file holds two head lines, at most one line per control record and
// at most one trailer line; the package's state is that of its last patch.
#include "kernel/consistency.h"

#include <cstdint>
#include <cstring>

#include "frame/bounded.h"
#include "frame/log.h"
#include "frame/result_codes.h"
#include "kernel/kernel_paths.h"
#include "kernel/line_buffer.h"
#include "kernel/record.h"
#include "sys/file_access.h"
#include "sys/owned.h"

namespace tesvar {

namespace {

void log_mismatch() {
    lkp_log(LKP_ERR, "The record is different between %s and %s.", CONTROL_FILE, STATE_FILE);
}

// Reads past the state file's head lines into a buffer of its own.
int skip_state_head(FILE *state_file) {
    LineBuffer line(LINE_BUFFER_SIZE);
    if (!line.allocated()) {
        lkp_log(LKP_ERR, "Failed to malloc.");
        return LKP_INVALID_ARGUMENT;
    }
    for (int i = 0; i < STATE_HEAD_LINES; ++i) {
        if (line.read(state_file) == -1) {
            lkp_log(LKP_ERR, "Failed to ignore the head diff.");
            return LKP_INVALID_ARGUMENT;
        }
    }
    return LKP_OK;
}

// Walks the whole control file: counts its records in *lines and remembers
// the patch of the package's last record (empty when it has none).
int walk_control(FILE *control_file, const char *pkg_name, char *last_patch, int32_t *lines) {
    LineBuffer line;
    patch_record record{};
    int32_t count = 0;
    while (line.read(control_file) != -1) {
        if (parse_record(&record, line.data(), RECORD_CONTROL) != LKP_OK) {
            return LKP_INVALID_ARGUMENT;
        }
        if (std::strncmp(record.pkg_name, pkg_name, NAME_SIZE) == 0 &&
            memcpy_s(last_patch, NAME_SIZE, record.patch_name, NAME_SIZE) != 0) {
            return LKP_INVALID_ARGUMENT;
        }
        ++count;
    }
    *lines = count;
    return LKP_OK;
}

// Examines at most `lines` record lines of the state file; a further line is
// the trailer and is read but not parsed. The last matching line sets state.
int walk_state(FILE *state_file, const char *last_patch, int32_t lines, char *state) {
    LineBuffer line;
    patch_record record{};
    for (int32_t examined = 0; line.read(state_file) != -1 && examined < lines; ++examined) {
        if (parse_record(&record, line.data(), RECORD_STATE) != LKP_OK) {
            return LKP_INVALID_ARGUMENT;
        }
        if (std::strncmp(record.patch_name, last_patch, NAME_SIZE) == 0 &&
            memcpy_s(state, STATE_SIZE, record.state(), STATE_SIZE) != 0) {
            return LKP_INVALID_ARGUMENT;
        }
    }
    return LKP_OK;
}

// Nothing may follow the trailer line, nor the control file's last record.
int check_tails(FILE *control_file, FILE *state_file) {
    LineBuffer state_line(LINE_BUFFER_SIZE);
    LineBuffer control_line(LINE_BUFFER_SIZE);
    if (!state_line.allocated() || !control_line.allocated()) {
        lkp_log(LKP_ERR, "Failed to malloc.");
        return LKP_INVALID_ARGUMENT;
    }
    if (state_line.read(state_file) != -1 || control_line.read(control_file) != -1) {
        lkp_log(LKP_ERR, "Failed to ignore the tail diff.");
        return LKP_INVALID_ARGUMENT;
    }
    return LKP_OK;
}

int compare_records(FILE *control_file, FILE *state_file, const char *pkg_name, char *state) {
    int rc = skip_state_head(state_file);
    if (rc != LKP_OK) {
        return rc;
    }
    char last_patch[NAME_SIZE] = {};
    int32_t lines = 0;
    if (memcpy_s(state, STATE_SIZE, STATE_UNKNOWN, std::strlen(STATE_UNKNOWN) + 1) != 0 ||
        walk_control(control_file, pkg_name, last_patch, &lines) != LKP_OK ||
        walk_state(state_file, last_patch, lines, state) != LKP_OK) {
        log_mismatch();
        return LKP_INVALID_ARGUMENT;
    }
    return check_tails(control_file, state_file);
}

}  // namespace

int check_record_available(const char *pkg_name, char *state) {
    Stream control_file(open_file("r", "%s", CONTROL_FILE));
    if (!control_file) {
        lkp_log(LKP_ERR, "Failed to open %s.", CONTROL_FILE);
        return LKP_OPEN_FAILED;
    }
    // Declared second, so closed first on every path.
    Stream state_file(open_file("r", "%s", STATE_FILE));
    if (!state_file) {
        lkp_log(LKP_ERR, "Failed to open %s.", STATE_FILE);
        return LKP_OPEN_FAILED;
    }
    return compare_records(control_file.get(), state_file.get(), pkg_name, state);
}

}  // namespace tesvar
