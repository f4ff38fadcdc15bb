// The patch list, and get_patch_list against the simulated control file.
#include "kernel/patch_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/control_file.h"
#include "kernel_helpers.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using kerneltest::Lines;
using tesvar::list_head;

// The names of the list walked from the head, forward or backward; checks
// that every element's neighbours point back at it.
Lines walk(list_head *head, bool forward) {
    Lines names;
    for (list_head *at = forward ? head->next : head->prev; at != head;
         at = forward ? at->next : at->prev) {
        EXPECT_EQ(at->next->prev, at);
        EXPECT_EQ(at->prev->next, at);
        names.emplace_back(tesvar::node_of(at)->patch_name);
    }
    return names;
}

void append(list_head *head, const char *name) {
    tesvar::patch_node *node = tesvar::create_patch_node(name);
    ASSERT_NE(node, nullptr) << name;
    tesvar::list_add_tail(&node->list, head);
}

void expect_empty(const list_head &head) {
    EXPECT_EQ(head.next, &head);
    EXPECT_EQ(head.prev, &head);
}

TEST(PatchList, AppendsAtTheTailAndFreesEveryNode) {
    list_head head;
    tesvar::INIT_LIST_HEAD(&head);
    expect_empty(head);
    for (const char *name : {"a", "b", "c"}) {
        append(&head, name);
    }
    EXPECT_EQ(walk(&head, true), (Lines{"a", "b", "c"}));
    EXPECT_EQ(walk(&head, false), (Lines{"c", "b", "a"}));

    tesvar::del_patch_list(&head);
    expect_empty(head);
    append(&head, "d");  // the head is reusable
    EXPECT_EQ(walk(&head, true), (Lines{"d"}));
    EXPECT_EQ(walk(&head, false), (Lines{"d"}));
    tesvar::del_patch_list(&head);
    expect_empty(head);
}

TEST(PatchList, DeletingAnEmptyListChangesNothing) {
    list_head head;
    tesvar::INIT_LIST_HEAD(&head);
    tesvar::del_patch_list(&head);
    expect_empty(head);
}

TEST(PatchList, NodeNamesOfOneTo63Characters) {
    for (const auto &[length, made] :
         std::vector<std::pair<size_t, bool>>{{0, false}, {1, true}, {63, true}, {64, false}}) {
        SCOPED_TRACE(length);
        const std::string name(length, 'n');
        tesvar::patch_node *node = tesvar::create_patch_node(name.c_str());
        ASSERT_EQ(node != nullptr, made);
        if (node != nullptr) {
            EXPECT_EQ(std::string(node->patch_name), name);
            std::free(node);
        }
    }
}

class GetPatchList : public lkptest::KernelTest {
protected:
    struct Listed {
        int rc;
        int32_t count;
        Lines names;
    };
    static Listed list(const std::string &pkg) {
        tesvar::PatchList patches;
        EXPECT_TRUE(patches);
        int32_t count = -1;  // written only on success
        const int rc = tesvar::get_patch_list(pkg.c_str(), patches.head(), &count);
        return {rc, count, walk(patches.head(), true)};
    }
};

TEST_F(GetPatchList, ListsThePackagesRecordsInFileOrder) {
    lkpsim::register_patch(3, "pkgA", "p1");
    lkpsim::register_patch(1, "pkgB", "q1");
    lkpsim::register_patch(3, "pkgA", "p2");
    lkpsim::register_patch(3, "pkgA", "p3");
    for (const auto &[pkg, names] : std::vector<std::pair<std::string, Lines>>{
             {"pkgA", {"p1", "p2", "p3"}}, {"pkgB", {"q1"}}, {"pkgC", {}}, {"pkg", {}}}) {
        SCOPED_TRACE(pkg);
        const Listed listed = list(pkg);
        EXPECT_EQ(listed.rc, 0);
        EXPECT_EQ(listed.count, static_cast<int32_t>(names.size()));
        EXPECT_EQ(listed.names, names);
    }
    EXPECT_EQ(kerneltest::take_log(), Lines{});
}

TEST_F(GetPatchList, HandWrittenControlFiles) {
    const std::string pkg63(63, 'k');
    const std::string pkg64 = pkg63 + "k";
    const std::string long_line = "1," + std::string(5000, 'o') + ",q1\n";  // another package
    struct Case {
        const char *what;
        std::string control;
        std::string pkg;
        int rc;
        int32_t count;  // -1: left as it was
        Lines names;    // what the list holds afterwards, failures included
    };
    const std::vector<Case> cases = {
        {"empty control file", "", "pkgA", 0, 0, {}},
        {"record without patch", "1,pkgA,p1\n2,pkgA,\n3,pkgA,p3\n", "pkgA", -257, -1, {"p1"}},
        {"malformed line", "1,pkgA,p1\nbad\n3,pkgA,p3\n", "pkgA", -262, -1, {"p1"}},
        {"malformed line of another package", "1,pkgA\n", "pkgB", -262, -1, {}},
        {"64-character name matches nothing", "1," + pkg64 + ",p1\n", pkg64, 0, 0, {}},
        {"64-character record name cut to 63", "1," + pkg64 + ",p1\n", pkg63, 0, 1, {"p1"}},
        {"line of 5000 characters",
         "1,pkgA,p1\n" + long_line + "2,pkgA,p2\n",
         "pkgA",
         0,
         2,
         {"p1", "p2"}},
        {"line of 5000 characters is one record", long_line, std::string(63, 'o'), 0, 1, {"q1"}},
        {"last line without newline", "1,pkgA,p1\n1,pkgA,p22", "pkgA", 0, 2, {"p1", "p2"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lkpsim::set_raw_control(c.control);
        const Listed listed = list(c.pkg);
        EXPECT_EQ(listed.rc, c.rc);
        EXPECT_EQ(listed.count, c.count);
        EXPECT_EQ(listed.names, c.names);
        EXPECT_EQ(kerneltest::take_log(), Lines{});
    }
}

TEST_F(GetPatchList, ControlFileAbsent) {
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    const Listed listed = list("pkgA");
    EXPECT_EQ(listed.rc, -262);
    EXPECT_EQ(listed.count, -1);
    EXPECT_EQ(listed.names, Lines{});
    EXPECT_EQ(kerneltest::take_log(), Lines{kerneltest::kNotExistent});
}

}  // namespace
