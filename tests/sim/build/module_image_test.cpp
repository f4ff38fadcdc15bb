// Module images: round trips in every class, byte order and name form,
// objects made by the C compiler, and truncated or garbage input that the
// reader must reject without reading outside the buffer.
#include "lkpsim/module_image.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "kernel_test.h"
#include "sim_util.h"

namespace {

using lkpsim::ModuleInfo;
using lkpsim::ModuleSpec;
using simtest::Bytes;
using simtest::Lines;

ModuleSpec spec_of(int elf_class, bool big_endian, bool in_this_module) {
    ModuleSpec spec;
    spec.name = "fix_a";
    spec.targets = {"vmlinux", "ext4"};
    spec.elf_class = elf_class;
    spec.big_endian = big_endian;
    spec.name_in_this_module = in_this_module;
    return spec;
}

// Reads the first `length` bytes from a buffer of exactly that size, so that
// AddressSanitizer and valgrind see any read past its end.
bool read_exact(const Bytes &image, std::size_t length, ModuleInfo *info) {
    const Bytes copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
    return lkpsim::read_module_image(copy.empty() ? nullptr : copy.data(), copy.size(), info);
}

bool reads(const Bytes &image) {
    ModuleInfo info;
    return read_exact(image, image.size(), &info);
}

class RoundTrip : public lkptest::KernelTest,
                  public ::testing::WithParamInterface<std::tuple<int, bool, bool>> {};

TEST_P(RoundTrip, ReadsBackWholeAndRejectsEveryTruncation) {
    const auto [elf_class, big_endian, in_this_module] = GetParam();
    const Bytes image = lkpsim::make_module_image(spec_of(elf_class, big_endian, in_this_module));
    ASSERT_GE(image.size(), 20U);
    EXPECT_EQ(image[4], elf_class == 64 ? 2 : 1);  // EI_CLASS
    EXPECT_EQ(image[5], big_endian ? 2 : 1);       // EI_DATA
    ModuleInfo info;
    ASSERT_TRUE(read_exact(image, image.size(), &info));
    EXPECT_EQ(info.name, "fix_a");
    EXPECT_EQ(info.targets, (Lines{"vmlinux", "ext4"}));
    EXPECT_TRUE(info.livepatch);
    for (std::size_t length = 0; length < image.size(); ++length) {
        EXPECT_FALSE(read_exact(image, length, &info)) << "length " << length;
    }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, RoundTrip,
                         ::testing::Combine(::testing::Values(32, 64), ::testing::Bool(),
                                            ::testing::Bool()));

class ModuleImageTest : public lkptest::KernelTest {};

TEST_F(ModuleImageTest, CompilerBuiltObjectsAreRead) {
    struct Case {
        const char *path;
        std::string name;
        Lines targets;  // sorted: the compiler may emit them in any order
        bool livepatch;
    };
    const std::vector<Case> cases = {
        {LKPSIM_CC_MODINFO_OBJECT, "cc_built", {"ext4", "nfs"}, true},
        {LKPSIM_CC_THIS_MODULE_OBJECT, "cc_this", {"vmlinux"}, false},
    };
    for (const Case &c : cases) {
        const Bytes image = simtest::read_bytes(c.path);
        ModuleInfo info;
        ASSERT_TRUE(read_exact(image, image.size(), &info)) << c.path;
        std::sort(info.targets.begin(), info.targets.end());
        EXPECT_EQ(info.name, c.name);
        EXPECT_EQ(info.targets, c.targets);
        EXPECT_EQ(info.livepatch, c.livepatch);
    }
}

// Field offsets of a 64-bit little-endian image.
constexpr std::size_t SHOFF = 40;
constexpr std::size_t SHNUM = 60;
constexpr std::size_t SHSTRNDX = 62;
constexpr std::size_t SECTION_HEADER = 64;

std::uint64_t get_le(const Bytes &image, std::size_t offset, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i > 0; --i) {
        value = (value << 8) | image[offset + i - 1];
    }
    return value;
}

TEST_F(ModuleImageTest, DamagedHeaderFieldsAreRejected) {
    const Bytes valid = lkpsim::make_module_image(spec_of(64, false, false));
    ASSERT_TRUE(reads(valid));
    const std::size_t table = get_le(valid, SHOFF, 8);
    const std::size_t modinfo = table + SECTION_HEADER;  // section 1
    const std::uint64_t huge = ~std::uint64_t{0} - 8;    // wraps any offset it is added to
    // (offset, width, value): the ident, ET_EXEC, the section table, .modinfo's
    // name, offset and size.
    const std::vector<std::tuple<std::size_t, std::size_t, std::uint64_t>> cases = {
        {0, 1, 0x7e},
        {4, 1, 3},
        {5, 1, 0},
        {16, 2, 2},
        {SHOFF, 8, huge},
        {SHNUM, 2, 0xffff},
        {SHSTRNDX, 2, 9},
        {modinfo, 4, 0x7fffffff},
        {modinfo + 24, 8, huge},
        {modinfo + 24, 8, 0x100000},
        {modinfo + 32, 8, huge},
        {modinfo + 32, 8, 0x100000}};
    for (const auto &[offset, width, value] : cases) {
        Bytes image = valid;
        for (std::size_t i = 0; i < width; ++i) {
            image[offset + i] = static_cast<unsigned char>(value >> (8 * i));
        }
        EXPECT_FALSE(reads(image)) << "field at " << offset << " = " << value;
    }
}

// The module structure's name field is 64 bytes less one word: 60 bytes on a
// 32-bit kernel, 56 on a 64-bit one; the longest name fills it but for its NUL.
TEST_F(ModuleImageTest, NameFieldOfTheModuleStructureFollowsTheWordSize) {
    for (const auto &[elf_class, field] : {std::pair{32, 60U}, std::pair{64, 56U}}) {
        for (const bool big_endian : {false, true}) {
            SCOPED_TRACE(std::to_string(elf_class) + (big_endian ? " big" : " little"));
            ModuleSpec spec = spec_of(elf_class, big_endian, true);
            spec.name = std::string(field - 1, 'n');
            ModuleInfo info;
            const Bytes image = lkpsim::make_module_image(spec);
            ASSERT_TRUE(read_exact(image, image.size(), &info));
            EXPECT_EQ(info.name, spec.name);
            spec.name += "m";  // one more is cut, as the build cuts it
            const Bytes cut = lkpsim::make_module_image(spec);
            ASSERT_TRUE(read_exact(cut, cut.size(), &info));
            EXPECT_EQ(info.name, std::string(field - 1, 'n'));
        }
    }
}

TEST_F(ModuleImageTest, GarbageIsRejectedAndFlippedBytesReadNothingOutside) {
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        Bytes garbage(random() % 512);
        std::generate(garbage.begin(), garbage.end(), [&] { return random(); });
        EXPECT_FALSE(reads(garbage));
    }
    int rejected = 0;
    for (const bool in_this_module : {false, true}) {
        const Bytes original = lkpsim::make_module_image(spec_of(64, false, in_this_module));
        for (int round = 0; round < 1000; ++round) {
            Bytes image = original;
            for (int flips = 0; flips < 4; ++flips) {
                image[random() % image.size()] ^= static_cast<unsigned char>(1U << (random() % 8));
            }
            ModuleInfo info;
            if (read_exact(image, image.size(), &info)) {
                EXPECT_FALSE(info.name.empty());
                EXPECT_LT(info.name.size(), image.size());
            } else {
                ++rejected;
            }
        }
    }
    EXPECT_GT(rejected, 0);
}

}  // namespace
