// Result codes through the shared library: the exported table as callers read
// it, and the message navo_lkp_strerror gives for every kind of code.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "tesvar.h"

namespace {

// The binary interface: codes, order and texts exactly as callers see them.
const errtable_entry kErrtable[] = {
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
static_assert(sizeof kErrtable / sizeof kErrtable[0] == 39, "39 entries");
static_assert(sizeof errtable / sizeof errtable[0] == 39, "39 entries");

class StrerrorTest : public lkptest::KernelTest {};

TEST_F(StrerrorTest, ErrtableHoldsEveryCodeAndTextInOrder) {
    for (size_t i = 0; i < 39; ++i) {
        EXPECT_EQ(errtable[i].code, kErrtable[i].code) << i;
        EXPECT_STREQ(errtable[i].message, kErrtable[i].message) << i;
    }
}

// Inside -324..-256 a code has its table text, a hole is "Illegal errno.";
// every other code, 0 and -330 included, is negated and given to strerror.
TEST_F(StrerrorTest, RangeRuleAndHoles) {
    for (int32_t code = -324; code <= -256; ++code) {
        const char *expected = "Illegal errno.";
        for (const errtable_entry &entry : kErrtable) {
            expected = entry.code == code ? entry.message : expected;
        }
        EXPECT_STREQ(navo_lkp_strerror(code), expected) << code;
    }
    for (const int32_t code : {0, -330, -325, -255, -2, 5, INT32_MAX, INT32_MIN}) {
        const std::string text = navo_lkp_strerror(code);  // strerror may reuse its buffer
        EXPECT_EQ(text, std::strerror(static_cast<int32_t>(-static_cast<int64_t>(code)))) << code;
    }
    EXPECT_EQ(lkpsim::take_log_texts(), std::vector<std::string>{});
}

}  // namespace
