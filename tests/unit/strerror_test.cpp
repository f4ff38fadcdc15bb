// Result codes through the shared library: the exported table as callers read
// it, and the messages navo_lkp_strerror gives for every kind of code.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "kernel_test.h"
#include "tesvar.h"
#include "unit_support.h"

namespace {

struct Entry {
    int32_t code;
    const char *message;
};

// The binary interface: codes, order and texts exactly as callers see them.
const Entry kErrtable[] = {
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

constexpr const char *kIllegal = "Illegal errno.";

class StrerrorTest : public lkptest::KernelTest {};

TEST_F(StrerrorTest, ErrtableHoldsEveryCodeAndTextInOrder) {
    static_assert(sizeof errtable / sizeof errtable[0] == 39, "39 entries");
    static_assert(sizeof kErrtable / sizeof kErrtable[0] == 39, "39 entries");
    for (size_t i = 0; i < 39; ++i) {
        SCOPED_TRACE(kErrtable[i].code);
        EXPECT_EQ(errtable[i].code, kErrtable[i].code);
        EXPECT_STREQ(errtable[i].message, kErrtable[i].message);
    }
}

// Codes outside -324..-256 are negated and handed to the C library, even those
// the table holds (0 and -330); holes inside the range are "Illegal errno.".
TEST_F(StrerrorTest, RangeRuleAndHoles) {
    struct Case {
        int32_t code;
        const char *text;     // the library's own text, or null:
        int32_t libc_number;  // then strerror() of this number
    };
    const Case cases[] = {
        {0, nullptr, 0},
        {-256, "Invalid lkp id.", 0},
        {-276, "Patch is in invalid state,system may be distroyed!", 0},
        {-277, kIllegal, 0},
        {-299, kIllegal, 0},
        {-300, "Kernel:code of old module does not mismatch.", 0},
        {-305, kIllegal, 0},
        {-310, "kernel:lkp code is in use.", 0},
        {-324, "The ko is unload yet.", 0},
        {-325, nullptr, 325},
        {-330, nullptr, 330},
        {-331, nullptr, 331},
        {-255, nullptr, 255},
        {-2, nullptr, 2},
        {5, nullptr, -5},
        {INT32_MAX, nullptr, -INT32_MAX},
        {INT32_MIN, nullptr, INT32_MIN},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        const std::string text = navo_lkp_strerror(c.code);
        // strerror may reuse one buffer: copy each text before the next call.
        const std::string expected = c.text ? c.text : std::strerror(c.libc_number);
        EXPECT_EQ(text, expected);
    }
}

TEST_F(StrerrorTest, EveryCodeInTheRangeHasItsTableTextOrIsIllegal) {
    for (int32_t code = -324; code <= -256; ++code) {
        SCOPED_TRACE(code);
        const char *expected = kIllegal;
        for (const Entry &entry : kErrtable) {
            if (entry.code == code) {
                expected = entry.message;
            }
        }
        EXPECT_STREQ(navo_lkp_strerror(code), expected);
    }
    EXPECT_EQ(unit::logged(), unit::Lines{});
}

}  // namespace
