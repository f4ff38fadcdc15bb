// The readers of the kernel files that do not copy records: fields located
// in place must say what parse_record's slots say, and lines read in blocks
// must be the lines getdelim returns, on awkward and hostile texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/line_reader.h"
#include "kernel/record.h"

namespace {

using tesvar::field_span;
using tesvar::NAME_SIZE;
using tesvar::patch_record;
using tesvar::record_spans;
using tesvar::STATE_SIZE;

std::vector<char> as_line(const std::string &text) {
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    return line;
}

std::string slot_of(const field_span &field, size_t capacity) {
    std::vector<char> slot(capacity, 'Z');
    tesvar::store_span(slot.data(), capacity, field);
    return slot.data();
}

const std::string n64(64, 'b');

const std::vector<std::string> awkward_lines = {"3,pkgA,p1\n",
                                                "0\tp1\tenabled\n",
                                                "3,pkgA,p1",
                                                "1,pkg A,p1 x\n",
                                                "1, pkgA,p1\n",
                                                "1\tp1\t enabled\n",
                                                "x,1,pkgA,p1\n",
                                                ",,\n",
                                                "1,p1\n",
                                                "3,pkgA,",
                                                "",
                                                "\n",
                                                ",\n",
                                                "1," + n64 + "," + n64 + "\n",
                                                "1\t" + n64 + "\tdisabledXY\n",
                                                "1\tp\tenabled \n",
                                                "1\tp\tenabledX\n",
                                                "1\tp\tenable\n",
                                                "1,pkg\tA,p,1\n",
                                                "1\tp,1\ten,x\n",
                                                "1,,,\n",
                                                "1,a b c,d e f\n",
                                                "1,  ,  \n"};

// Every field located in place, cut and stored, equals parse_record's slot;
// every failure is parse_record's failure.
TEST(LocateFields, AgreesWithParseRecordOnAwkwardLines) {
    for (const std::string &text : awkward_lines) {
        for (int kind : {tesvar::RECORD_CONTROL, tesvar::RECORD_STATE}) {
            SCOPED_TRACE("kind " + std::to_string(kind) + " line \"" + text + "\"");
            std::vector<char> parsed = as_line(text);
            const std::vector<char> located = as_line(text);
            patch_record record{};
            const int expected = tesvar::parse_record(&record, parsed.data(), kind);
            record_spans spans{};
            ASSERT_EQ(
                tesvar::locate_fields(&spans, located.data(), std::strlen(located.data()), kind),
                expected);
            if (expected != 0) {
                continue;
            }
            if (kind == tesvar::RECORD_CONTROL) {
                EXPECT_EQ(slot_of(spans.middle, NAME_SIZE), record.pkg_name);
                EXPECT_EQ(slot_of(spans.last, NAME_SIZE), record.patch_name);
            } else {
                EXPECT_EQ(slot_of(spans.middle, NAME_SIZE), record.patch_name);
                EXPECT_EQ(slot_of(spans.last, STATE_SIZE),
                          std::string(record.state(), strnlen(record.state(), STATE_SIZE)));
            }
        }
    }
}

// field_is and field_name say what strncmp on the stored slot says, for
// names that are equal, shorter, longer, blank-holding or too long.
TEST(LocateFields, ComparisonsAgreeWithTheStoredSlot) {
    const std::vector<std::string> names = {
        "",       "p",        "p1", "pkgA",        "pkg",     "pkg A", "enabled",
        "enable", "enabledX", n64,  n64.substr(1), n64 + "c", "a b c", "a"};
    for (const std::string &text : awkward_lines) {
        std::vector<char> line = as_line(text);
        record_spans spans{};
        if (tesvar::locate_fields(&spans, line.data(), std::strlen(line.data()),
                                  tesvar::RECORD_CONTROL) != 0) {
            continue;
        }
        for (const field_span &field : {spans.middle, spans.last}) {
            for (size_t capacity : {size_t{NAME_SIZE}, size_t{STATE_SIZE}}) {
                const std::string slot = slot_of(field, capacity);
                for (const std::string &name : names) {
                    SCOPED_TRACE("line \"" + text + "\" slot \"" + slot + "\" name \"" + name +
                                 "\"");
                    const bool expected = std::strncmp(slot.c_str(), name.c_str(), capacity) == 0;
                    EXPECT_EQ(tesvar::field_is(field, capacity, name.c_str()), expected);
                    EXPECT_EQ(tesvar::field_name(name.c_str(), capacity).matches(field), expected);
                }
            }
        }
    }
}

// A stream over a text held in memory.
struct MemoryStream {
    explicit MemoryStream(const std::string &text)
        : stream(fmemopen(const_cast<char *>(text.data()), text.size(), "r")) {}
    ~MemoryStream() {
        if (stream != nullptr) {
            std::fclose(stream);
        }
    }
    FILE *stream;
};

std::vector<std::string> getdelim_lines(const std::string &text) {
    MemoryStream memory(text);
    std::vector<std::string> lines;
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t length = 0;
    while ((length = getdelim(&line, &capacity, '\n', memory.stream)) != -1) {
        lines.emplace_back(line, static_cast<size_t>(length));
    }
    std::free(line);
    return lines;
}

// The lines of the reader (of a text without NULs), with the length it
// reports checked against strlen.
std::vector<std::string> reader_lines(const std::string &text) {
    MemoryStream memory(text);
    tesvar::LineReader reader(memory.stream);
    EXPECT_TRUE(reader.allocated());
    std::vector<std::string> lines;
    for (const char *line = reader.next(); line != nullptr; line = reader.next()) {
        EXPECT_EQ(reader.length(), std::strlen(line));
        lines.emplace_back(line);
    }
    EXPECT_EQ(reader.next(), nullptr) << "the end stays the end";
    return lines;
}

TEST(LineReader, ReturnsTheLinesOfGetdelim) {
    const std::string long_line(40000, 'x');
    std::string many;
    for (int i = 0; i < 5000; ++i) {
        many += std::to_string(i) + ",pkg,patch_" + std::to_string(i) + "\n";
    }
    const std::vector<std::string> texts = {"",
                                            "\n",
                                            "\n\n",
                                            "a",
                                            "a\nb",
                                            "a\nb\n",
                                            "one\ntwo\nthree\n",
                                            long_line,
                                            long_line + "\n" + long_line,
                                            "x\n" + long_line + "\nend\n",
                                            many,
                                            many + "tail",
                                            std::string(4095, 'y') + "\n",
                                            std::string(4096, 'y') + "\nz\n",
                                            std::string(16384, 'y') + "\nz\n",
                                            std::string(16385, 'y') + "\n"};
    for (const std::string &text : texts) {
        SCOPED_TRACE("text of " + std::to_string(text.size()) + " bytes");
        EXPECT_EQ(reader_lines(text), getdelim_lines(text));
    }
}

// A NUL inside a line: the line is still cut at its newline, and its length
// (as parse_record measures it) stops at the NUL.
TEST(LineReader, LengthStopsAtANulInsideALine) {
    const std::string text = std::string("1,pk\0g,p1\nnext,a,b\n\0\n", 21);
    MemoryStream memory(text);
    tesvar::LineReader reader(memory.stream);
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.length(), 4U);
    const char *second = reader.next();
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second, "next,a,b\n");
    EXPECT_EQ(reader.length(), 9U);
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.length(), 0U);
    EXPECT_EQ(reader.next(), nullptr);
}

}  // namespace
