// Reading a package's records from the control file, and writing op lines
// and enable switches.
#include "kernel/control_file.h"

#include <cerrno>
#include <cstring>

#include "frame/result_codes.h"
#include "kernel/kernel_paths.h"
#include "kernel/line_buffer.h"
#include "kernel/record.h"
#include "kernel/transition_wait.h"
#include "sys/file_access.h"
#include "sys/owned.h"

namespace tesvar {

int get_patch_list(const char *pkg_name, list_head *head, int32_t *count) {
    LineBuffer line(LINE_BUFFER_SIZE);
    if (!line.allocated()) {
        return LKP_MALLOC_FAILED;
    }
    // A fixed kernel path: opened without being resolved first.
    Stream control(open_fixed_for_reading(CONTROL_FILE));
    if (!control) {
        return LKP_OPEN_FAILED;
    }
    int32_t found = 0;
    patch_record record{};
    while (line.read(control.get()) != -1) {
        if (parse_record(&record, line.data(), RECORD_CONTROL) != LKP_OK) {
            return LKP_OPEN_FAILED;
        }
        if (std::strncmp(pkg_name, record.pkg_name, NAME_SIZE) != 0) {
            continue;
        }
        patch_node *node = create_patch_node(record.patch_name);
        if (node == nullptr) {
            return LKP_INVALID_ARGUMENT;
        }
        list_add_tail(&node->list, head);
        ++found;
    }
    *count = found;
    return LKP_OK;
}

namespace {

FILE *open_op_target(int op, const char *patch_name) {
    if (op == FS_OP_ENABLE || op == FS_OP_DISABLE) {
        return open_file("w", "%s/%s/%s", LIVEPATCH_DIR, patch_name, "enabled");
    }
    // A fixed kernel path: opened without being resolved first.
    return open_fixed_for_writing(CONTROL_FILE);
}

int write_op(FILE *target, int op, int32_t num, const char *pkg_name, const char *patch_name) {
    switch (op) {
        case FS_OP_ADD:
            return write_file(target, "%s,%d,%s,%s", "add", num, pkg_name, patch_name);
        case FS_OP_RM:
            return write_file(target, "%s,%d,%s,%s", "rm", num, pkg_name, patch_name);
        case FS_OP_ENABLE:
            return write_file(target, "%c", '1');
        default:
            return write_file(target, "%c", '0');
    }
}

}  // namespace

namespace {

// The op's result; *refusal gets the errno of a refused close (0 otherwise).
int write_to_kernel(int op, int32_t num, const char *pkg_name, const char *patch_name,
                    int *refusal) {
    *refusal = 0;
    Stream target(open_op_target(op, patch_name));
    if (!target) {
        return LKP_OPEN_FAILED;
    }
    if (write_op(target.get(), op, num, pkg_name, patch_name) != LKP_OK) {
        return LKP_WRITE_FAILED;
    }
    // The text reaches the kernel only now: a refusal shows as a failed close.
    errno = 0;
    if (target.close() != 0) {
        *refusal = errno;
        return LKP_CLOSE_FAILED;
    }
    return LKP_OK;
}

}  // namespace

int fs_op(int op, int32_t num, const char *pkg_name, const char *patch_name) {
    int refusal = 0;
    return write_to_kernel(op, num, pkg_name, patch_name, &refusal);
}

int switch_patch(int op, const char *patch_name) {
    int rc = LKP_OK;
    (void)retry_while_busy(patch_name, [op, patch_name, &rc] {
        int refusal = 0;
        rc = write_to_kernel(op, 0, nullptr, patch_name, &refusal);
        return rc == LKP_CLOSE_FAILED && refusal != 0 ? -refusal : static_cast<int32_t>(rc);
    }, true);
    return rc;
}

}  // namespace tesvar
