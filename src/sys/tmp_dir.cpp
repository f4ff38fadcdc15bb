// Private temporary directories for extracted packages and units.
#include "sys/tmp_dir.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "frame/bounded.h"
#include "frame/log.h"
#include "kernel/kernel_paths.h"
#include "sys/command.h"

namespace tesvar {
namespace {

constexpr size_t TEMPLATE_BUFFER_SIZE = 16;
static_assert(std::char_traits<char>::length(TMP_DIR_TEMPLATE) + 1 == TEMPLATE_BUFFER_SIZE,
              "the template and its NUL fill the buffer");

}  // namespace

char *create_tmp_dir() {
    // mkdtemp rewrites its argument, so each call works on its own copy.
    char name[TEMPLATE_BUFFER_SIZE];
    if (strncpy_s(name, sizeof name, TMP_DIR_TEMPLATE, sizeof name - 1) != 0) {
        return nullptr;
    }
    if (mkdtemp(name) == nullptr) {
        return nullptr;
    }
    return strdup(name);
}

void rm_tmp_dir(const char *dir) {
    // Whether rm could not run or ran and failed, the directory may remain:
    // one line says so, and the operation's own result stands.
    if (cmd_exec(RM_PROGRAM, "-rf", dir, nullptr, nullptr) != 0) {
        lkp_log(LKP_ERR, "Failed to rm %s.", dir);
    }
}

}  // namespace tesvar
