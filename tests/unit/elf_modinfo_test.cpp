// The bounded ELF reader of a module's ".modinfo": both classes and byte
// orders, images that are not ELF or declare no name, and damaged images cut
// or bent at every place an offset or size is read.
#include "sys/elf_modinfo.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/module_image.h"
#include "unit_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string value_of(const Bytes &image, const char *key) {
    const tesvar::ElfModinfo info = tesvar::read_elf_modinfo(image.data(), image.size());
    const char *value = nullptr;
    size_t length = 0;
    if (!tesvar::find_modinfo_value(info, key, &value, &length)) {
        return "(none)";
    }
    // The value lies inside the image.
    EXPECT_GE(reinterpret_cast<const unsigned char *>(value), image.data());
    EXPECT_LE(reinterpret_cast<const unsigned char *>(value) + length, image.data() + image.size());
    return std::string(value, length);
}

Bytes image_of(const std::string &name, int elf_class, bool big_endian) {
    lkpsim::ModuleSpec spec;
    spec.name = name;
    spec.elf_class = elf_class;
    spec.big_endian = big_endian;
    spec.vermagic = "6.1.0 SMP mod_unload";
    return lkpsim::make_module_image(spec);
}

using ElfModinfoTest = lkptest::KernelTest;

TEST_F(ElfModinfoTest, ReadsEveryClassAndByteOrder) {
    for (const int elf_class : {32, 64}) {
        for (const bool big_endian : {false, true}) {
            SCOPED_TRACE(std::to_string(elf_class) + (big_endian ? " big" : " little"));
            const Bytes image = image_of("fix_1", elf_class, big_endian);
            const tesvar::ElfModinfo info = tesvar::read_elf_modinfo(image.data(), image.size());
            EXPECT_TRUE(info.is_elf);
            EXPECT_TRUE(info.relocatable);
            EXPECT_TRUE(info.has_modinfo);
            EXPECT_EQ(value_of(image, "name"), "fix_1");
            EXPECT_EQ(value_of(image, "livepatch"), "Y");
            EXPECT_EQ(value_of(image, "vermagic"), "6.1.0 SMP mod_unload");
            EXPECT_EQ(value_of(image, "nam"), "(none)");
            EXPECT_EQ(value_of(image, "lkp"), "(none)");
            EXPECT_EQ(value_of(image, "lkp_target"), "vmlinux");
        }
    }
}

TEST_F(ElfModinfoTest, NameOnlyInTheModuleStructureIsNoName) {
    lkpsim::ModuleSpec spec;
    spec.name = "fix_1";
    spec.name_in_this_module = true;
    const Bytes image = lkpsim::make_module_image(spec);
    EXPECT_EQ(value_of(image, "name"), "(none)");
    EXPECT_EQ(value_of(image, "livepatch"), "Y");
}

TEST_F(ElfModinfoTest, NotElf) {
    for (const std::string &text : {std::string(),
                                    std::string("\x7f"
                                                "EL"),
                                    std::string("not an ELF image at all, just text\n"),
                                    std::string("\x7f"
                                                "ELF\x03\x01" +
                                                std::string(64, '\0')),
                                    std::string("\x7f"
                                                "ELF\x01\x03" +
                                                std::string(64, '\0'))}) {
        const Bytes image(text.begin(), text.end());
        const tesvar::ElfModinfo info = tesvar::read_elf_modinfo(image.data(), image.size());
        EXPECT_FALSE(info.is_elf) << text;
        EXPECT_EQ(value_of(image, "name"), "(none)");
    }
    EXPECT_FALSE(tesvar::read_elf_modinfo(nullptr, 100).is_elf);
}

// Every prefix of every kind of image: no read outside it (ASan and valgrind
// watch), and a name only when the whole section is there.
TEST_F(ElfModinfoTest, EveryTruncationStaysInside) {
    for (const int elf_class : {32, 64}) {
        for (const bool big_endian : {false, true}) {
            const Bytes whole = image_of("fix_1", elf_class, big_endian);
            for (size_t length = 0; length < whole.size(); ++length) {
                // A copy of exactly `length` bytes, so that reading past it is caught.
                const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
                const std::string name = value_of(cut, "name");
                EXPECT_TRUE(name == "(none)" || name == "fix_1") << length << ": " << name;
            }
        }
    }
}

// Each header field bent to a hostile value: the reader declines, never
// strays.
TEST_F(ElfModinfoTest, HostileHeaderFieldsAreDeclined) {
    const Bytes whole = image_of("fix_1", 64, false);
    // e_shoff 40 (8), e_shentsize 58, e_shnum 60, e_shstrndx 62 (2 each).
    const struct {
        size_t offset;
        size_t width;
    } fields[] = {{40, 8}, {58, 2}, {60, 2}, {62, 2}};
    for (const auto &field : fields) {
        for (const uint64_t value :
             {uint64_t{0}, uint64_t{1}, uint64_t{0xffff}, uint64_t{0x7fffffffffffffff},
              ~uint64_t{0}, uint64_t{whole.size()}, uint64_t{whole.size() - 1}}) {
            Bytes bent = whole;
            for (size_t i = 0; i < field.width; ++i) {
                bent[field.offset + i] = static_cast<unsigned char>(value >> (8 * i));
            }
            const std::string name = value_of(bent, "name");
            EXPECT_TRUE(name == "(none)" || name == "fix_1") << field.offset << "=" << value;
        }
    }
    // Every byte of the section header table bent, one at a time: whatever
    // is found lies inside the image (value_of checks).
    const uint64_t table = whole[40] | (whole[41] << 8U);
    ASSERT_LT(table, whole.size());
    for (size_t at = table; at < whole.size(); ++at) {
        for (const unsigned char byte : {0x00, 0x7f, 0xff}) {
            Bytes bent = whole;
            bent[at] = byte;
            value_of(bent, "name");
            value_of(bent, "vermagic");
        }
    }
}

// A last entry without its NUL ends at the section's end.
TEST_F(ElfModinfoTest, EntryRunningToTheSectionsEnd) {
    tesvar::ElfModinfo info;
    info.has_modinfo = true;
    const char section[] = {'a', '=', '1', '\0', 'n', 'a', 'm', 'e', '=', 'x', 'y'};
    info.modinfo = section;
    info.modinfo_size = sizeof section;
    const char *value = nullptr;
    size_t length = 0;
    ASSERT_TRUE(tesvar::find_modinfo_value(info, "name", &value, &length));
    EXPECT_EQ(std::string(value, length), "xy");
    EXPECT_FALSE(tesvar::find_modinfo_value(info, "b", &value, &length));
    // "name=" without a value, and "name" alone, are no entries.
    const char empty[] = {'n', 'a', 'm', 'e', '\0', 'n', 'a', 'm', 'e', '='};
    info.modinfo = empty;
    info.modinfo_size = sizeof empty;
    ASSERT_TRUE(tesvar::find_modinfo_value(info, "name", &value, &length));
    EXPECT_EQ(length, 0u);
}

TEST_F(ElfModinfoTest, MappedModuleOnlyForNonEmptyRegularFilesWithinTheLimit) {
    const std::string dir = scratch_dir();
    unit::write_text(dir + "/module.ko", "12345");
    unit::write_text(dir + "/empty.ko", "");
    ASSERT_EQ(symlink((dir + "/module.ko").c_str(), (dir + "/link.ko").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo.ko").c_str(), 0600), 0);
    EXPECT_TRUE(tesvar::MappedModule((dir + "/module.ko").c_str(), 5).valid());
    EXPECT_EQ(tesvar::MappedModule((dir + "/module.ko").c_str(), 5).size(), 5u);
    for (const char *name : {"/empty.ko", "/link.ko", "/fifo.ko", "/missing.ko", ""}) {
        EXPECT_FALSE(tesvar::MappedModule((dir + name).c_str(), 100).valid()) << name;
    }
    EXPECT_FALSE(tesvar::MappedModule((dir + "/module.ko").c_str(), 4).valid());
}

}  // namespace
