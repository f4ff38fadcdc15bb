// Result codes and their messages: the exported table and navo_lkp_strerror.
#include <cstdint>
#include <cstring>

#include "tesvar.h"

extern "C" {

// Exported with default visibility by its declaration in tesvar.h.
const errtable_entry errtable[TESVAR_ERRTABLE_SIZE] = {
    {0, "It's OK."},
    {-256, "Invalid lkp id."},
    {-257, "Invalid arguments:NULL-pointer,zero-size..."},
    {-258, "Invalid patch:wrong format or something."},
    {-259, "Malloc failed."},
    {-260, "Snprintf failed."},
    {-261, "A buffer argument is insufficient."},
    {-262, "Failed to open file."},
    {-263, "There is something wrong with the system,for example pthread_mutex_xx failure."},
    {-264, "Failed to extract a file to a tmp dir."},
    {-265, "The target has not been loaded."},
    {-266, "File does not exist."},
    {-267,
     "There are patches loaded in kernel already,it's not supported to apply patches for another "
     "time."},
    {-268, "Failed to parse file xx/navolkp/contents."},
    {-269, "Failed to write file."},
    {-270, "Failed to close file."},
    {-271, "Failed to read file."},
    {-272, "There are no patches in dir specified by argument dir."},
    {-273, "The count of patches beyond the max-number(for example,1000)specified by lkp."},
    {-274, "Patch is in busying state."},
    {-275, "Patch has not been loaded."},
    {-276, "Patch is in invalid state,system may be distroyed!"},
    {-300, "Kernel:code of old module does not mismatch."},
    {-310, "kernel:lkp code is in use."},
    {-311, "kernel:module is in use."},
    {-312, "kernel:malloc failed in kernel."},
    {-313, "kernel:can not find relocate symbol."},
    {-314, "kernel:remove patch repeatly."},
    {-315, "kernel:symbol missing export."},
    {-316, "kernel:unexpected running task."},
    {-317, "kernel:unknow error."},
    {-318, "kernel:target not load."},
    {-319, "kernel:call back function of prepare failed."},
    {-320, "kernel:cold update loaded."},
    {-321, "kernel:bad system.map."},
    {-322, "kernel:target not active."},
    {-323, "Kernel:don't support livepatch."},
    {-324, "The ko is unload yet."},
    {-330, "Memcpy_s failed."},
};

const char *navo_lkp_strerror(int32_t code) {
    // Unsigned arithmetic: one comparison for -324..-256, and no overflow for
    // codes near the ends of the int32_t range.
    const uint32_t bits = static_cast<uint32_t>(code);
    if (bits + 324U > 68U) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): glibc keeps an unknown code's text per thread.
        return std::strerror(static_cast<int32_t>(0U - bits));
    }
    for (const errtable_entry &entry : errtable) {
        if (entry.code == code) {
            return entry.message;
        }
    }
    return "Illegal errno.";
}

}  // extern "C"
