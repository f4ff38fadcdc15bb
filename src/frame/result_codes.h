// Result codes the library returns itself; errtable holds their messages.
#ifndef TESVAR_FRAME_RESULT_CODES_H
#define TESVAR_FRAME_RESULT_CODES_H

#include <cstdint>

namespace tesvar {

enum ResultCode : int32_t {
    LKP_OK = 0,
    LKP_INVALID_ARGUMENT = -257,
    LKP_INVALID_PATCH = -258,
    LKP_MALLOC_FAILED = -259,
    LKP_SNPRINTF_FAILED = -260,
    LKP_OPEN_FAILED = -262,
    LKP_TARGET_NOT_LOADED = -265,
    LKP_FILE_MISSING = -266,
    LKP_ALREADY_LOADED = -267,
    LKP_WRITE_FAILED = -269,
    LKP_CLOSE_FAILED = -270,
    LKP_NO_PATCHES = -272,
    LKP_KERNEL_UNKNOWN = -317,
    LKP_NO_LIVEPATCH = -323,
};

}  // namespace tesvar

#endif
