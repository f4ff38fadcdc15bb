// parse_record on awkward control-file and state-file lines.
#include "kernel/record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/result_codes.h"

namespace {

using tesvar::parse_record;
using tesvar::patch_record;

constexpr unsigned char kSentinel = 0xA5;

const std::string kName63(63, 'a');
const std::string kName64(64, 'b');

struct ParseCase {
    const char *what;
    int kind;
    std::string line;
    int rc;
    int32_t num;
    std::string patch;
    std::string second;  // pkg_name of a control record, state word of a state record
};

patch_record sentinel_record() {
    patch_record record;
    std::memset(&record, kSentinel, sizeof(record));
    return record;
}

std::string slot_text(const char *slot, size_t capacity) {
    return std::string(slot, strnlen(slot, capacity));
}

const std::vector<ParseCase> kCases = {
    {"control line", 0, "3,pkgA,p1\n", 0, 3, "p1", "pkgA"},
    {"state line", 1, "0\tp1\tenabled\n", 0, 0, "p1", "enabled"},
    {"any other kind is a state line", 7, "4\tp1\tdisabled\n", 0, 4, "p1", "disabled"},
    {"no newline drops the last character", 0, "3,pkgA,p1", 0, 3, "p", "pkgA"},
    {"state line without newline", 1, "2\tp1\tenabled", 0, 2, "p1", "enable"},
    {"a blank ends both fields", 0, "1,pkg A,p1 x\n", 0, 1, "p1", "pkg"},
    {"blank right after a comma", 0, "1, pkgA,p1\n", 0, 1, "p1", ""},
    {"blank right after the last comma", 0, "1,pkgA, p1\n", 0, 1, "", "pkgA"},
    {"blank right after a TAB", 1, "1\tp1\t enabled\n", 0, 1, "p1", ""},
    {"four fields: num from a non-numeric head", 0, "x,1,pkgA,p1\n", 0, 0, "p1", "pkgA"},
    {"four fields: num from the head's digits", 0, "12,x,pkgA,p1\n", 0, 12, "p1", "pkgA"},
    {"head with blanks and a sign", 0, "  -5 7,pkgA,p1\n", 0, -5, "p1", "pkgA"},
    {"empty fields", 0, ",,\n", 0, 0, "", ""},
    {"TAB is text in a control line", 0, "1,pk\tg,p\t1\n", 0, 1, "p\t1", "pk\tg"},
    {"comma is text in a state line", 1, "1\tp,1\ten,x\n", 0, 1, "p,1", "en,x"},
    {"63-character names kept", 0, "1," + kName63 + "," + kName63 + "\n", 0, 1, kName63, kName63},
    {"64-character names cut to 63", 0, "1," + kName64 + "," + kName64 + "\n", 0, 1,
     kName64.substr(0, 63), kName64.substr(0, 63)},
    {"state record: name cut to 63, word to 8", 1, "1\t" + kName64 + "\tdisabledXY\n", 0, 1,
     kName64.substr(0, 63), "disabled"},
    {"one comma", 0, "1,p1\n", -317, 0, "", ""},
    {"the dropped character was the second comma", 0, "3,pkgA,", -317, 0, "", ""},
    {"state line of commas", 1, "1,p1,enabled\n", -317, 0, "", ""},
    {"one TAB", 1, "1\tp1\n", -317, 0, "", ""},
    {"only a newline", 0, "\n", -317, 0, "", ""},
    {"empty text", 0, "", -317, 0, "", ""},
};

TEST(ParseRecord, AwkwardLines) {
    for (const ParseCase &c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<char> line(c.line.begin(), c.line.end());
        line.push_back('\0');
        patch_record record = sentinel_record();
        const patch_record untouched = record;

        ASSERT_EQ(parse_record(&record, line.data(), c.kind), c.rc);
        if (c.rc != tesvar::LKP_OK) {
            EXPECT_EQ(std::memcmp(&record, &untouched, sizeof(record)), 0) << "record changed";
            continue;
        }
        EXPECT_EQ(record.num, c.num);
        EXPECT_EQ(slot_text(record.patch_name, tesvar::NAME_SIZE), c.patch);
        if (c.kind == tesvar::RECORD_CONTROL) {
            EXPECT_EQ(slot_text(record.pkg_name, tesvar::NAME_SIZE), c.second);
            continue;
        }
        EXPECT_EQ(slot_text(record.state(), tesvar::STATE_SIZE), c.second);
        // Only the first 9 bytes of the shared slot belong to the state word.
        for (int i = tesvar::STATE_SIZE; i < tesvar::NAME_SIZE; ++i) {
            EXPECT_EQ(static_cast<unsigned char>(record.pkg_name[i]), kSentinel) << "byte " << i;
        }
    }
}

TEST(ParseRecord, NullLineLeavesTheRecordUntouched) {
    for (int kind : {tesvar::RECORD_CONTROL, tesvar::RECORD_STATE}) {
        SCOPED_TRACE(kind);
        patch_record record = sentinel_record();
        const patch_record untouched = record;
        EXPECT_EQ(parse_record(&record, nullptr, kind), -257);
        EXPECT_EQ(std::memcmp(&record, &untouched, sizeof(record)), 0);
    }
}

}  // namespace
