// Base names, suffix checks and the single entry of a directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "kernel_test.h"
#include "sys/names.h"
#include "unit_support.h"

namespace {

using unit::err_line;
using unit::Lines;
using unit::logged;
using unit::Owned;

// The text of a helper's heap result, or "(null)".
std::string text_of(char *result) {
    const Owned owned(result);
    return owned ? owned.get() : "(null)";
}

class NamesTest : public lkptest::KernelTest {};

TEST_F(NamesTest, FileNameIsTheTextAfterTheLastSlash) {
    const std::string long_name(1023, 'n');
    const std::string refused = err_line("get_file_name: Faield to snprintf.");
    const struct {
        std::string path;
        std::string name;
    } cases[] = {
        {"a/b/c.ko", "c.ko"},
        {"c.ko", "c.ko"},
        {"dir/a.b.ko", "a.b.ko"},
        {"/abs", "abs"},
        {"a//b", "b"},
        {"/data/" + long_name, long_name},
        {"dir/", "(null)"},
        {"", "(null)"},
        {"/", "(null)"},
        {"d/" + long_name + "n", "(null)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40));
        EXPECT_EQ(text_of(tesvar::get_file_name(c.path.c_str())), c.name);
        EXPECT_EQ(logged(), c.name == "(null)" ? Lines{refused} : Lines{});
    }
}

TEST_F(NamesTest, PostfixNeedsAtLeastOneCharacterBeforeIt) {
    const std::string null_argument = err_line("check_file_postfix: The input parameter is NULL.");
    const std::string mismatch = err_line("check_file_postfix: The file is not matched.");
    const struct {
        const char *name;
        const char *postfix;
        int result;
    } cases[] = {
        {"x.tar.gz", ".tar.gz", 0},
        {"a.b.tar.gz", ".tar.gz", 0},
        {".tar.gz", ".tar.gz", -258},
        {"x.TAR.GZ", ".tar.gz", -258},
        {"x.tar.gz.bak", ".tar.gz", -258},
        {"gz", ".tar.gz", -258},
        {"a", "", 0},
        {"", "", -258},
        {"", ".ko", -258},
        {nullptr, ".ko", -257},
        {"x.ko", nullptr, -257},
        {nullptr, nullptr, -257},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + " / " +
                     (c.postfix ? c.postfix : "(null)"));
        EXPECT_EQ(tesvar::check_file_postfix(c.name, c.postfix), c.result);
        const Lines expected = c.result == 0      ? Lines{}
                               : c.result == -257 ? Lines{null_argument}
                                                  : Lines{mismatch};
        EXPECT_EQ(logged(), expected);
    }
}

// Only "." and ".." are skipped; every other entry counts, whatever its kind.
TEST_F(NamesTest, ChildDirNamesTheOnlyEntry) {
    const struct {
        const char *label;
        Lines files, dirs, links;  // entries to make
        std::string child;         // "(null)" when there is no single entry
    } cases[] = {
        {"file", {"x.ko"}, {}, {}, "x.ko"},
        {"directory", {}, {"pkg"}, {}, "pkg"},
        {"hidden", {".hidden"}, {}, {}, ".hidden"},
        {"dot-dot prefix", {"..x"}, {}, {}, "..x"},
        {"dangling link", {}, {}, {"link"}, "link"},
        {"empty", {}, {}, {}, "(null)"},
        {"two entries", {"a"}, {"b"}, {}, "(null)"},
        {"hidden second", {"a", ".hidden"}, {}, {}, "(null)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string dir = scratch_dir() + "/" + c.label;
        unit::make_dir(dir);
        for (const std::string &name : c.files) {
            unit::write_text(dir + "/" + name, "");
        }
        for (const std::string &name : c.dirs) {
            unit::make_dir(dir + "/" + name);
        }
        for (const std::string &name : c.links) {
            ASSERT_EQ(symlink("missing", (dir + "/" + name).c_str()), 0);
        }
        const std::string expected = c.child == "(null)" ? c.child : dir + "/" + c.child;
        EXPECT_EQ(text_of(tesvar::get_child_dir(dir.c_str())), expected);
        EXPECT_EQ(text_of(tesvar::get_child_dir((dir + "/").c_str())),
                  c.child == "(null)" ? c.child : dir + "//" + c.child);
    }
    unit::write_text(scratch_dir() + "/regular", "x");
    EXPECT_EQ(text_of(tesvar::get_child_dir((scratch_dir() + "/regular").c_str())), "(null)");
    EXPECT_EQ(text_of(tesvar::get_child_dir((scratch_dir() + "/missing").c_str())), "(null)");
    EXPECT_EQ(logged(), Lines{});
}

TEST_F(NamesTest, ChildPathHoldsAtMost1023Characters) {
    for (const size_t length : {1023u, 1024u}) {
        SCOPED_TRACE(length);
        const std::string dir = unit::deep_dir(scratch_dir() + "/" + std::to_string(length), 1000);
        const std::string child = dir + "/" + std::string(length - 1001, 'c');
        unit::write_text(child, "");
        EXPECT_EQ(text_of(tesvar::get_child_dir(dir.c_str())), length == 1023 ? child : "(null)");
    }
    EXPECT_EQ(logged(), Lines{});
}

}  // namespace
