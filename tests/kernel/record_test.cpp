// parse_record on awkward control-file and state-file lines, and the patch
// list the records are collected in.
#include "kernel/record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/patch_list.h"

namespace {

using tesvar::list_head;
using tesvar::parse_record;
using tesvar::patch_record;
using Lines = std::vector<std::string>;

constexpr unsigned char kSentinel = 0xA5;

std::string slot_text(const char *slot, size_t capacity) {
    return std::string(slot, strnlen(slot, capacity));
}

TEST(ParseRecord, AwkwardLines) {
    const std::string n64(64, 'b');
    const std::string n63 = n64.substr(1);
    const struct {
        const char *what;
        int kind;  // 0: control line "num,pkg,patch"; any other: state line "num\tpatch\tstate"
        std::string line;
        int rc;
        int32_t num;
        std::string patch, second;  // second: the package or the state word
    } cases[] = {
        {"control line", 0, "3,pkgA,p1\n", 0, 3, "p1", "pkgA"},
        {"state line", 1, "0\tp1\tenabled\n", 0, 0, "p1", "enabled"},
        {"any other kind is a state line", 7, "4\tp1\tdisabled\n", 0, 4, "p1", "disabled"},
        {"no newline drops the last character", 0, "3,pkgA,p1", 0, 3, "p", "pkgA"},
        {"a blank ends both fields", 0, "1,pkg A,p1 x\n", 0, 1, "p1", "pkg"},
        {"blank right after a comma", 0, "1, pkgA,p1\n", 0, 1, "p1", ""},
        {"blank right after a TAB", 1, "1\tp1\t enabled\n", 0, 1, "p1", ""},
        {"four fields: num from a non-numeric head", 0, "x,1,pkgA,p1\n", 0, 0, "p1", "pkgA"},
        {"decimal head with blanks and a sign", 0, "  -010 7,pkgA,p1\n", 0, -10, "p1", "pkgA"},
        {"empty fields", 0, ",,\n", 0, 0, "", ""},
        {"int32 bounds are kept", 0, "-2147483648,a,p\n", 0, INT32_MIN, "p", "a"},
        {"highest int32", 1, "2147483647\tp\ton\n", 0, INT32_MAX, "p", "on"},
        {"one past int32 holds at the bound", 0, "2147483648,a,p\n", 0, INT32_MAX, "p", "a"},
        {"past uint32 does not wrap to 5", 0, "4294967301,a,p\n", 0, INT32_MAX, "p", "a"},
        {"one below int32 holds at the bound", 0, "-2147483649,a,p\n", 0, INT32_MIN, "p", "a"},
        {"past 64 bits holds too", 1, "-99999999999999999999\tp\ton\n", 0, INT32_MIN, "p", "on"},
        {"TAB is text in a control line", 0, "1,pk\tg,p\t1\n", 0, 1, "p\t1", "pk\tg"},
        {"comma is text in a state line", 1, "1\tp,1\ten,x\n", 0, 1, "p,1", "en,x"},
        {"64-character names cut to 63", 0, "1," + n64 + "," + n64 + "\n", 0, 1, n63, n63},
        {"state: name cut to 63, word to 8", 1, "1\t" + n64 + "\tdisabledXY\n", 0, 1, n63,
         "disabled"},
        {"one comma", 0, "1,p1\n", -317, 0, "", ""},
        {"the dropped character was the second comma", 0, "3,pkgA,", -317, 0, "", ""},
        {"state line of commas", 1, "1,p1,enabled\n", -317, 0, "", ""},
        {"empty text", 0, "", -317, 0, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> line(c.line.begin(), c.line.end());
        line.push_back('\0');
        patch_record record;
        std::memset(&record, kSentinel, sizeof(record));
        const patch_record untouched = record;
        ASSERT_EQ(parse_record(&record, line.data(), c.kind), c.rc);
        if (c.rc != 0) {
            EXPECT_EQ(std::memcmp(&record, &untouched, sizeof(record)), 0) << "record changed";
            continue;
        }
        EXPECT_EQ(record.num, c.num);
        EXPECT_EQ(slot_text(record.patch_name, tesvar::NAME_SIZE), c.patch);
        const bool control = c.kind == tesvar::RECORD_CONTROL;
        EXPECT_EQ(slot_text(record.pkg_name, control ? tesvar::NAME_SIZE : tesvar::STATE_SIZE),
                  c.second);
        // Only the first 9 bytes of the shared slot belong to the state word.
        for (int i = tesvar::STATE_SIZE; i < tesvar::NAME_SIZE && !control; ++i) {
            EXPECT_EQ(static_cast<unsigned char>(record.pkg_name[i]), kSentinel) << "byte " << i;
        }
    }
    patch_record record;
    std::memset(&record, kSentinel, sizeof(record));
    const patch_record untouched = record;
    EXPECT_EQ(parse_record(&record, nullptr, tesvar::RECORD_STATE), -257);
    EXPECT_EQ(std::memcmp(&record, &untouched, sizeof(record)), 0);
}

// The record number is read as strtoll reads it and held at the int32
// bounds: checked against that reference on signs, blanks, junk and every
// magnitude around the bounds.
TEST(ParseRecord, NumberReadAsStrtollHeldAtTheInt32Bounds) {
    const std::vector<std::string> heads = {"0",
                                            "7",
                                            "-7",
                                            "+7",
                                            "  12",
                                            "\t\v\f\r\n 5",
                                            "-",
                                            "+",
                                            "",
                                            "x1",
                                            "1x",
                                            "--1",
                                            "+-1",
                                            "- 1",
                                            "007",
                                            "2147483646",
                                            "2147483647",
                                            "2147483648",
                                            "2147483649",
                                            "-2147483647",
                                            "-2147483648",
                                            "-2147483649",
                                            "9999999999",
                                            "-9999999999",
                                            "99999999999999999999999",
                                            "-99999999999999999999999",
                                            "00000000000000000000000000000042",
                                            "4294967296",
                                            "4294967297"};
    for (const std::string &head : heads) {
        SCOPED_TRACE("head \"" + head + "\"");
        const long long value = std::strtoll(head.c_str(), nullptr, 10);
        const long long expected = value < INT32_MIN   ? INT32_MIN
                                   : value > INT32_MAX ? INT32_MAX
                                                       : value;
        std::string text = head + ",pkg,patch\n";
        std::vector<char> line(text.begin(), text.end());
        line.push_back('\0');
        patch_record record{};
        ASSERT_EQ(parse_record(&record, line.data(), tesvar::RECORD_CONTROL), 0);
        EXPECT_EQ(record.num, expected);
    }
}

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

TEST(PatchList, AppendsAtTheTailAndFreesEveryNode) {
    list_head head;
    tesvar::INIT_LIST_HEAD(&head);
    tesvar::del_patch_list(&head);  // an empty list stays empty
    for (const char *name : {"a", "b", "c"}) {
        tesvar::list_add_tail(&tesvar::create_patch_node(name)->list, &head);
    }
    EXPECT_EQ(walk(&head, true), (Lines{"a", "b", "c"}));
    EXPECT_EQ(walk(&head, false), (Lines{"c", "b", "a"}));
    tesvar::del_patch_list(&head);
    EXPECT_TRUE(head.next == &head && head.prev == &head);
    // Names hold 1 to 63 characters.
    for (const size_t length : {0, 1, 63, 64}) {
        tesvar::patch_node *node = tesvar::create_patch_node(std::string(length, 'n').c_str());
        EXPECT_EQ(node != nullptr, length == 1 || length == 63) << length;
        EXPECT_EQ(node ? node->patch_name : "", std::string(node ? length : 0, 'n'));
        std::free(node);
    }
}

}  // namespace
