// Module images: round trips in every class and byte order, what readelf
// makes of them, objects from the real compiler, and damaged images that the
// reader must reject without reading outside the buffer.
#include "lkpsim/module_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "run_capture.h"

namespace {

using Bytes = std::vector<unsigned char>;
using lkpsim::ModuleInfo;
using lkpsim::ModuleSpec;

ModuleSpec spec_of(int elf_class, bool big_endian, bool in_this_module) {
    ModuleSpec spec;
    spec.name = "fix_a";
    spec.targets = {"vmlinux", "ext4"};
    spec.elf_class = elf_class;
    spec.big_endian = big_endian;
    spec.name_in_this_module = in_this_module;
    return spec;
}

// Reads a copy in a buffer of exactly `length` bytes, so that the sanitizer
// sees any read past its end.
bool read_exact(const Bytes &image, std::size_t length, ModuleInfo *info) {
    const Bytes copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
    return lkpsim::read_module_image(copy.empty() ? nullptr : copy.data(), copy.size(), info);
}

bool reads(const Bytes &image) {
    ModuleInfo info;
    return read_exact(image, image.size(), &info);
}

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool contains(const Bytes &image, const std::string &text) {
    return std::search(image.begin(), image.end(), text.begin(), text.end()) != image.end();
}

// A scratch file removed when the test ends.
class TempFile {
public:
    TempFile() {
        char pattern[] = "/tmp/lkpsim_module_XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd >= 0) {
            close(fd);
            path_ = pattern;
        }
    }
    ~TempFile() {
        if (!path_.empty()) {
            unlink(path_.c_str());
        }
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// ------------------------------------------------------------- round trips

class RoundTrip : public ::testing::TestWithParam<std::tuple<int, bool, bool>> {};

TEST_P(RoundTrip, ReadsBackNameTargetsAndLivepatch) {
    const auto [elf_class, big_endian, in_this_module] = GetParam();
    const Bytes image = lkpsim::make_module_image(spec_of(elf_class, big_endian, in_this_module));
    ModuleInfo info;
    ASSERT_TRUE(read_exact(image, image.size(), &info));
    EXPECT_EQ(info.name, "fix_a");
    EXPECT_EQ(info.targets, (std::vector<std::string>{"vmlinux", "ext4"}));
    EXPECT_TRUE(info.livepatch);
    EXPECT_EQ(contains(image, "name=fix_a"), !in_this_module);
}

TEST_P(RoundTrip, HeaderNamesClassOrderAndType) {
    const auto [elf_class, big_endian, in_this_module] = GetParam();
    const Bytes image = lkpsim::make_module_image(spec_of(elf_class, big_endian, in_this_module));
    ASSERT_GE(image.size(), 20U);
    EXPECT_EQ(image[0], 0x7f);
    EXPECT_EQ(image[1], 'E');
    EXPECT_EQ(image[4], elf_class == 64 ? 2 : 1);
    EXPECT_EQ(image[5], big_endian ? 2 : 1);
    const unsigned type = big_endian ? image[17] : image[16];
    EXPECT_EQ(type, 1U);  // ET_REL
}

TEST_P(RoundTrip, ReadelfAcceptsTheImage) {
    const auto [elf_class, big_endian, in_this_module] = GetParam();
    TempFile file;
    ASSERT_FALSE(file.path().empty());
    ASSERT_TRUE(
        lkpsim::write_module_file(file.path(), spec_of(elf_class, big_endian, in_this_module)));
    const auto result =
        lkpsim_test::run_capture({"/usr/bin/readelf", "-W", "-h", "-S", file.path()});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output.find("Warning"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Error"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("REL (Relocatable file)"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find(elf_class == 64 ? "ELF64" : "ELF32"), std::string::npos);
    EXPECT_NE(result.output.find(big_endian ? "big endian" : "little endian"), std::string::npos);
    EXPECT_NE(result.output.find(".modinfo"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find(".shstrtab"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find(".gnu.linkonce.this_module") != std::string::npos, in_this_module)
        << result.output;
}

INSTANTIATE_TEST_SUITE_P(AllKinds, RoundTrip,
                         ::testing::Combine(::testing::Values(32, 64), ::testing::Bool(),
                                            ::testing::Bool()));

TEST(ModuleImage, ThirtyTwoBitBigEndianIsPowerPc) {
    const Bytes image = lkpsim::make_module_image(spec_of(32, true, false));
    ASSERT_GE(image.size(), 20U);
    EXPECT_EQ(image[18], 0);
    EXPECT_EQ(image[19], 20);  // EM_PPC
}

TEST(ModuleImage, ReadelfShowsTheModinfoEntries) {
    TempFile file;
    ModuleSpec spec = spec_of(32, true, false);
    spec.targets = {"nfs"};
    ASSERT_TRUE(lkpsim::write_module_file(file.path(), spec));
    const auto result =
        lkpsim_test::run_capture({"/usr/bin/readelf", "-p", ".modinfo", file.path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find("name=fix_a"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("livepatch=Y"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("lkp_target=nfs"), std::string::npos) << result.output;
}

TEST(ModuleImage, NameSitsAtTheClassOffsetOfTheModuleStructure) {
    for (const int elf_class : {32, 64}) {
        TempFile file;
        ASSERT_TRUE(lkpsim::write_module_file(file.path(), spec_of(elf_class, false, true)));
        const auto result = lkpsim_test::run_capture(
            {"/usr/bin/readelf", "-x", ".gnu.linkonce.this_module", file.path()});
        EXPECT_EQ(result.status, 0);
        // "fix_a" in hex starts at byte 12 (32-bit) or 24 (64-bit) of the section.
        const std::string row = elf_class == 64 ? "0x00000010 00000000 00000000 6669785f 61"
                                                : "0x00000000 00000000 00000000 00000000 6669785f";
        EXPECT_NE(result.output.find(row), std::string::npos) << result.output;
    }
}

TEST(ModuleImage, WithoutLivepatchOrTargets) {
    ModuleSpec spec = spec_of(64, false, false);
    spec.livepatch = false;
    spec.targets.clear();
    const Bytes image = lkpsim::make_module_image(spec);
    ModuleInfo info;
    info.livepatch = true;
    info.targets = {"stale"};
    ASSERT_TRUE(read_exact(image, image.size(), &info));
    EXPECT_EQ(info.name, "fix_a");
    EXPECT_FALSE(info.livepatch);
    EXPECT_TRUE(info.targets.empty());
}

TEST(ModuleImage, LongNameInModuleStructureIsCutToItsField) {
    ModuleSpec spec = spec_of(64, true, true);
    spec.name = std::string(70, 'x');
    const Bytes image = lkpsim::make_module_image(spec);
    ModuleInfo info;
    ASSERT_TRUE(read_exact(image, image.size(), &info));
    EXPECT_EQ(info.name, std::string(55, 'x'));
}

TEST(ModuleImage, LongNameInModinfoIsKept) {
    ModuleSpec spec = spec_of(32, false, false);
    spec.name = std::string(70, 'y');
    const Bytes image = lkpsim::make_module_image(spec);
    ModuleInfo info;
    ASSERT_TRUE(read_exact(image, image.size(), &info));
    EXPECT_EQ(info.name, spec.name);
}

TEST(ModuleImage, WriteModuleFileWritesTheImage) {
    TempFile file;
    const ModuleSpec spec = spec_of(64, false, false);
    ASSERT_TRUE(lkpsim::write_module_file(file.path(), spec));
    EXPECT_EQ(read_file(file.path()), lkpsim::make_module_image(spec));
    EXPECT_FALSE(lkpsim::write_module_file("/nonexistent_dir/x.ko", spec));
}

// ------------------------------------------------------- compiler objects

TEST(CompilerObject, NameAndTargetsFromModinfo) {
    const Bytes image = read_file(LKPSIM_CC_MODINFO_OBJECT);
    ASSERT_FALSE(image.empty()) << LKPSIM_CC_MODINFO_OBJECT;
    ModuleInfo info;
    ASSERT_TRUE(read_exact(image, image.size(), &info));
    EXPECT_EQ(info.name, "cc_built");
    // The compiler may emit the entries in any order.
    std::vector<std::string> targets = info.targets;
    std::sort(targets.begin(), targets.end());
    EXPECT_EQ(targets, (std::vector<std::string>{"ext4", "nfs"}));
    EXPECT_TRUE(info.livepatch);
}

TEST(CompilerObject, NameFromTheModuleStructure) {
    const Bytes image = read_file(LKPSIM_CC_THIS_MODULE_OBJECT);
    ASSERT_FALSE(image.empty()) << LKPSIM_CC_THIS_MODULE_OBJECT;
    ModuleInfo info;
    ASSERT_TRUE(read_exact(image, image.size(), &info));
    EXPECT_EQ(info.name, "cc_this");
    EXPECT_EQ(info.targets, std::vector<std::string>{"vmlinux"});
    EXPECT_FALSE(info.livepatch);
}

// ---------------------------------------------------------- damaged images

// Field offsets of a 64-bit little-endian image.
constexpr std::size_t kShoff = 40;
constexpr std::size_t kShentsize = 58;
constexpr std::size_t kShnum = 60;
constexpr std::size_t kShstrndx = 62;
constexpr std::size_t kSectionHeader = 64;

void put_le(Bytes *image, std::size_t offset, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        (*image)[offset + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::uint64_t get_le(const Bytes &image, std::size_t offset, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i > 0; --i) {
        value = (value << 8) | image[offset + i - 1];
    }
    return value;
}

// Offset of section header `index` of a 64-bit little-endian image.
std::size_t section_at(const Bytes &image, std::size_t index) {
    return static_cast<std::size_t>(get_le(image, kShoff, 8)) + index * kSectionHeader;
}

Bytes valid64(bool in_this_module = false) {
    return lkpsim::make_module_image(spec_of(64, false, in_this_module));
}

TEST(DamagedImage, ValidBaselineReads) {
    EXPECT_TRUE(reads(valid64()));
    EXPECT_TRUE(reads(valid64(true)));
}

TEST(DamagedImage, NullAndEmptyAreRejected) {
    ModuleInfo info;
    EXPECT_FALSE(lkpsim::read_module_image(nullptr, 0, &info));
    EXPECT_FALSE(lkpsim::read_module_image(nullptr, 100, &info));
    const Bytes image = valid64();
    EXPECT_FALSE(lkpsim::read_module_image(image.data(), image.size(), nullptr));
}

TEST(DamagedImage, EveryTruncationIsRejected) {
    for (const int elf_class : {32, 64}) {
        for (const bool in_this_module : {false, true}) {
            const Bytes image = lkpsim::make_module_image(spec_of(elf_class, true, in_this_module));
            for (std::size_t length = 0; length < image.size(); ++length) {
                ModuleInfo info;
                EXPECT_FALSE(read_exact(image, length, &info)) << "length " << length;
            }
        }
    }
}

TEST(DamagedImage, GarbageIsRejected) {
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        Bytes garbage(static_cast<std::size_t>(random() % 512));
        for (unsigned char &byte : garbage) {
            byte = static_cast<unsigned char>(random());
        }
        EXPECT_FALSE(reads(garbage));
    }
    const std::string text = "this is not an ELF file at all, only some text for the loader";
    EXPECT_FALSE(reads(Bytes(text.begin(), text.end())));
}

TEST(DamagedImage, IdentMustBeElfWithKnownClassAndOrder) {
    for (const auto &[offset, value] : std::vector<std::pair<std::size_t, unsigned char>>{
             {0, 0x7e}, {3, 'G'}, {4, 0}, {4, 3}, {5, 0}, {5, 3}, {6, 2}}) {
        Bytes image = valid64();
        image[offset] = value;
        EXPECT_FALSE(reads(image)) << "byte " << offset << " = " << int{value};
    }
}

TEST(DamagedImage, OnlyRelocatableObjects) {
    Bytes image = valid64();
    put_le(&image, 16, 2, 2);  // ET_EXEC
    EXPECT_FALSE(reads(image));
}

TEST(DamagedImage, SectionTableMustFitAndMatchTheClass) {
    const std::vector<std::pair<std::size_t, std::uint64_t>> cases = {
        {kShentsize, 40},                 // a 32-bit entry size in a 64-bit image
        {kShnum, 0},                      // no sections
        {kShnum, 0xffff},                 // more sections than bytes
        {kShstrndx, 0},                   // name table is the null section
        {kShstrndx, 9},                   // name table beyond the table
        {kShoff, ~std::uint64_t{0} - 8},  // table offset wraps around
    };
    for (const auto &[offset, value] : cases) {
        Bytes image = valid64();
        put_le(&image, offset, value, offset == kShoff ? 8 : 2);
        EXPECT_FALSE(reads(image)) << "field at " << offset << " = " << value;
    }
}

TEST(DamagedImage, SectionBytesMustLieInsideTheImage) {
    for (const std::uint64_t offset : {std::uint64_t{0x100000}, ~std::uint64_t{0} - 4}) {
        Bytes image = valid64();
        put_le(&image, section_at(image, 1) + 24, offset, 8);  // .modinfo sh_offset
        EXPECT_FALSE(reads(image));
    }
    for (const std::uint64_t size : {std::uint64_t{0x100000}, ~std::uint64_t{0}}) {
        Bytes image = valid64();
        put_le(&image, section_at(image, 1) + 32, size, 8);  // .modinfo sh_size
        EXPECT_FALSE(reads(image));
    }
}

TEST(DamagedImage, SectionNamesMustLieInTheNameTable) {
    Bytes image = valid64();
    put_le(&image, section_at(image, 1), 0x7fffffff, 4);  // .modinfo sh_name
    EXPECT_FALSE(reads(image));
}

TEST(DamagedImage, NameTableMustEndInNul) {
    Bytes image = valid64();
    const std::size_t strtab = section_at(image, 2);
    const auto offset = static_cast<std::size_t>(get_le(image, strtab + 24, 8));
    const auto size = static_cast<std::size_t>(get_le(image, strtab + 32, 8));
    image[offset + size - 1] = 'x';
    EXPECT_FALSE(reads(image));
}

TEST(DamagedImage, ModuleStructureNameMustBeTerminatedInItsField) {
    Bytes image = valid64(true);
    const std::size_t this_module = section_at(image, 2);
    const auto offset = static_cast<std::size_t>(get_le(image, this_module + 24, 8));
    for (std::size_t i = 24; i < 24 + 56; ++i) {
        image[offset + i] = 'n';
    }
    EXPECT_FALSE(reads(image));
}

TEST(DamagedImage, ModuleStructureTooSmallForItsName) {
    Bytes image = valid64(true);
    put_le(&image, section_at(image, 2) + 32, 40, 8);  // sh_size below 24 + 56
    EXPECT_FALSE(reads(image));
}

TEST(DamagedImage, ImageWithoutAnyNameIsRejected) {
    ModuleSpec spec = spec_of(64, false, true);
    spec.name.clear();
    EXPECT_FALSE(reads(lkpsim::make_module_image(spec)));
    ModuleSpec no_name = spec_of(32, true, false);
    no_name.name.clear();
    EXPECT_FALSE(reads(lkpsim::make_module_image(no_name)));
}

TEST(DamagedImage, FlippedBytesNeverReadOutside) {
    const Bytes original = valid64(true);
    std::mt19937 random(2024);
    int rejected = 0;
    for (int round = 0; round < 2000; ++round) {
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
    EXPECT_GT(rejected, 0);
}

}  // namespace
