// Base names, suffix checks and the single entry of a directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "kernel_test.h"
#include "sys/names.h"
#include "unit_support.h"

namespace {

using unit::Lines;
using unit::take_text;

class NamesTest : public lkptest::KernelTest {};

TEST_F(NamesTest, FileNameIsTheTextAfterTheLastSlash) {
    const std::string n1023(1023, 'n');
    const struct {
        std::string path, name;
    } cases[] = {
        {"a/b/c.ko", "c.ko"},           {"c.ko", "c.ko"},   {"a//b", "b"},
        {"/d/" + n1023, n1023},         {"dir/", "(null)"}, {"", "(null)"},
        {"d/" + n1023 + "n", "(null)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40));
        EXPECT_EQ(take_text(tesvar::get_file_name(c.path.c_str())), c.name);
        EXPECT_EQ(
            lkpsim::take_log_texts(),
            c.name == "(null)" ? Lines{"[LKP-ERR]:get_file_name: Faield to snprintf."} : Lines{});
    }
}

TEST_F(NamesTest, PostfixNeedsAtLeastOneCharacterBeforeIt) {
    const struct {
        const char *name, *postfix;
        int result;
    } cases[] = {{"x.tar.gz", ".tar.gz", 0},
                 {".tar.gz", ".tar.gz", -258},
                 {"x.TAR.GZ", ".tar.gz", -258},
                 {"x.tar.gz.bak", ".tar.gz", -258},
                 {"gz", ".tar.gz", -258},
                 {"a", "", 0},
                 {"", "", -258},
                 {nullptr, ".ko", -257},
                 {"x.ko", nullptr, -257}};
    const std::string head = "[LKP-ERR]:check_file_postfix: ";
    for (const auto &c : cases) {
        EXPECT_EQ(tesvar::check_file_postfix(c.name, c.postfix), c.result)
            << (c.name ? c.name : "(null)") << " / " << (c.postfix ? c.postfix : "(null)");
        const std::string logged =
            c.result == -257 ? "The input parameter is NULL." : "The file is not matched.";
        EXPECT_EQ(lkpsim::take_log_texts(), c.result == 0 ? Lines{} : Lines{head + logged});
    }
}

// "." and ".." are skipped, and so is every entry that is neither a directory
// nor a regular file: it counts as absent.
// Entries: "name" a file, "name/" a directory, "@name" a link to a file that
// exists, "|name" a FIFO.
TEST_F(NamesTest, ChildDirNamesTheOnlyEntry) {
    const struct {
        const char *label;
        Lines entries;
        const char *child;  // null when there is no single entry
    } cases[] = {
        {"file", {"x.ko"}, "x.ko"},
        {"directory", {"pkg/"}, "pkg"},
        {"hidden", {".hidden"}, ".hidden"},
        {"dot-dot prefix", {"..x"}, "..x"},
        {"link", {"@link"}, nullptr},
        {"link beside a file", {"@link", "x.ko"}, "x.ko"},
        {"fifo", {"|pipe"}, nullptr},
        {"fifo beside a directory", {"|pipe", "pkg/"}, "pkg"},
        {"empty", {}, nullptr},
        {"two entries", {"a", "b/"}, nullptr},
        {"hidden second", {"a", ".hidden"}, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string dir = scratch_dir() + "/" + c.label;
        unit::make_dir(dir);
        for (const std::string &name : c.entries) {
            if (name.back() == '/') {
                unit::make_dir(dir + "/" + name);
            } else if (name[0] == '@') {
                unit::write_text(dir + ".target", "");
                ASSERT_EQ(symlink((dir + ".target").c_str(), (dir + "/" + name.substr(1)).c_str()),
                          0);
            } else if (name[0] == '|') {
                ASSERT_EQ(mkfifo((dir + "/" + name.substr(1)).c_str(), 0600), 0);
            } else {
                unit::write_text(dir + "/" + name, "");
            }
        }
        EXPECT_EQ(take_text(tesvar::get_child_dir(dir.c_str())),
                  c.child ? dir + "/" + c.child : "(null)");
    }
    // dir is used unchanged: a trailing '/' doubles the slash.
    EXPECT_EQ(take_text(tesvar::get_child_dir((scratch_dir() + "/file/").c_str())),
              scratch_dir() + "/file//x.ko");
    EXPECT_EQ(take_text(tesvar::get_child_dir((scratch_dir() + "/file/x.ko").c_str())), "(null)");
    EXPECT_EQ(take_text(tesvar::get_child_dir((scratch_dir() + "/missing").c_str())), "(null)");
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{});
}

TEST_F(NamesTest, ChildPathHoldsAtMost1023Characters) {
    for (const size_t length : {1023u, 1024u}) {
        const std::string dir = unit::deep_dir(scratch_dir() + "/" + std::to_string(length), 1000);
        const std::string child = dir + "/" + std::string(length - 1001, 'c');
        unit::write_text(child, "");
        EXPECT_EQ(take_text(tesvar::get_child_dir(dir.c_str())), length == 1023 ? child : "(null)");
    }
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{});
}

}  // namespace
