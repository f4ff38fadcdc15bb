// Package builder: manifests, the layout of packages and unit archives as tar
// lists them, every layout fault, reproducible bytes, and a clean output
// directory.
#include "lkpsim/package_builder.h"

#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "lkpsim/module_image.h"
#include "run_capture.h"

namespace {

using lkpsim::PackageSpec;
using lkpsim::UnitSpec;
using Lines = std::vector<std::string>;

int remove_one(const char *path, const struct stat * /*status*/, int /*flag*/, FTW * /*walk*/) {
    return remove(path);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Lines entries_of(const std::string &dir) {
    Lines names;
    const std::unique_ptr<DIR, int (*)(DIR *)> stream(opendir(dir.c_str()), closedir);
    if (!stream) {
        return names;
    }
    while (const dirent *entry = readdir(stream.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

Lines tar_list(const std::string &archive) {
    const auto result = lkpsim_test::run_capture({"/bin/tar", "-tzf", archive});
    EXPECT_EQ(result.status, 0) << archive << ": " << result.output;
    return lkpsim_test::lines_of(result.output);
}

class PackageBuilder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lkpsim_pkg_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        out_ = root_ + "/out";
        ASSERT_EQ(mkdir(out_.c_str(), 0755), 0);
    }
    void TearDown() override {
        if (!root_.empty()) {
            nftw(root_.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
        }
    }

    // Builds the package and checks that nothing but it is left behind.
    std::string build(const PackageSpec &spec) {
        std::string path = lkpsim::build_package(spec, out_);
        EXPECT_EQ(path, out_ + "/" + spec.file_name);
        EXPECT_EQ(entries_of(out_), Lines{spec.file_name});
        return path;
    }

    // Extracts an archive into a new directory below the scratch root.
    std::string extract(const std::string &archive, const std::string &name) {
        std::string dir = root_ + "/" + name;
        EXPECT_EQ(mkdir(dir.c_str(), 0755), 0);
        const auto result = lkpsim_test::run_capture({"/bin/tar", "-xzf", archive, "-C", dir});
        EXPECT_EQ(result.status, 0) << result.output;
        return dir;
    }

    std::string root_;
    std::string out_;
};

// ---------------------------------------------------------------- manifest

TEST(Manifest, FourHeadLinesThenTheListedUnits) {
    const PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 2);
    EXPECT_EQ(lkpsim::manifest_for(spec),
              "versions: 1.0\ndescription: test package\ndate: 2020-01-01\nUnits List: 2\n"
              "fix_1.tar.gz\nfix_2.tar.gz\n");
}

TEST(Manifest, CountsOnlyListedUnitsAndUsesArchiveNames) {
    PackageSpec spec = lkpsim::simple_package("p.tar.gz", 3, "u");
    spec.version = "2.5";
    spec.description = "two fixes";
    spec.date = "2021-02-03";
    spec.units[0].archive = "first.tar.gz";
    spec.units[1].listed = false;
    EXPECT_EQ(lkpsim::manifest_for(spec),
              "versions: 2.5\ndescription: two fixes\ndate: 2021-02-03\nUnits List: 2\n"
              "first.tar.gz\nu3.tar.gz\n");
}

TEST(Manifest, RawTextIsUsedAsItIs) {
    PackageSpec spec = lkpsim::simple_package("p.tar.gz", 1);
    spec.manifest = "versions: 1\r\nnot a manifest";
    EXPECT_EQ(lkpsim::manifest_for(spec), "versions: 1\r\nnot a manifest");
}

TEST(Manifest, SimplePackageNames) {
    const PackageSpec spec = lkpsim::simple_package("hotfix_07.tar.gz", 3, "p_");
    EXPECT_EQ(spec.file_name, "hotfix_07.tar.gz");
    EXPECT_EQ(spec.dir_name, "hotfix_07");
    ASSERT_EQ(spec.units.size(), 3U);
    EXPECT_EQ(spec.units[2].module_file, "p_3.ko");
}

// ---------------------------------------------------------------- layouts

TEST_F(PackageBuilder, PackageHoldsOneDirectoryWithContentAndUnits) {
    const std::string path = build(lkpsim::simple_package("hotfix_01.tar.gz", 2));
    EXPECT_EQ(tar_list(path), (Lines{"hotfix_01/", "hotfix_01/content", "hotfix_01/fix_1.tar.gz",
                                     "hotfix_01/fix_2.tar.gz"}));
}

TEST_F(PackageBuilder, UnitArchiveHoldsOneDirectoryWithTheModule) {
    const PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 2);
    const std::string dir = extract(build(spec), "x") + "/hotfix_01";
    EXPECT_EQ(read_file(dir + "/content"), lkpsim::manifest_for(spec));
    EXPECT_EQ(tar_list(dir + "/fix_2.tar.gz"), (Lines{"fix_2/", "fix_2/fix_2.ko"}));
    const std::string image = read_file(extract(dir + "/fix_2.tar.gz", "u") + "/fix_2/fix_2.ko");
    lkpsim::ModuleInfo info;
    ASSERT_TRUE(lkpsim::read_module_image(image.data(), image.size(), &info));
    EXPECT_EQ(info.name, "fix_2");
    EXPECT_EQ(info.targets, Lines{"vmlinux"});
    EXPECT_TRUE(info.livepatch);
}

TEST_F(PackageBuilder, MembersHaveFixedOwnerAndTime) {
    const std::string path = build(lkpsim::simple_package("hotfix_01.tar.gz", 1));
    const auto result = lkpsim_test::run_capture({"/bin/tar", "--numeric-owner", "-tvzf", path});
    ASSERT_EQ(result.status, 0);
    for (const std::string &line : lkpsim_test::lines_of(result.output)) {
        EXPECT_NE(line.find(" 0/0 "), std::string::npos) << line;
        EXPECT_NE(line.find("1970-01-01 00:00"), std::string::npos) << line;
    }
}

TEST_F(PackageBuilder, SameSpecGivesSameBytes) {
    PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 3);
    spec.extra_in_dir = {{"README", "read me"}};
    const std::string first = read_file(build(spec));
    ASSERT_EQ(remove((out_ + "/" + spec.file_name).c_str()), 0);
    const std::string second = read_file(build(spec));
    ASSERT_GE(first.size(), 10U);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first[3] & 0x08, 0) << "no file name in the gzip header";
    EXPECT_EQ(first.substr(4, 4), std::string(4, '\0')) << "no time in the gzip header";
}

TEST_F(PackageBuilder, DashedModuleFileGivesUnderscoreModuleName) {
    PackageSpec spec = lkpsim::simple_package("p.tar.gz", 0);
    UnitSpec unit;
    unit.module_file = "fs_fix-2.ko";
    spec.units.push_back(unit);
    unit.module_file = "named.ko";
    unit.module.name = "other_name";
    spec.units.push_back(unit);
    const std::string dir = extract(build(spec), "x") + "/p";
    const std::string dashed =
        read_file(extract(dir + "/fs_fix-2.tar.gz", "u1") + "/fs_fix-2/fs_fix-2.ko");
    const std::string named = read_file(extract(dir + "/named.tar.gz", "u2") + "/named/named.ko");
    lkpsim::ModuleInfo info;
    ASSERT_TRUE(lkpsim::read_module_image(dashed.data(), dashed.size(), &info));
    EXPECT_EQ(info.name, "fs_fix_2");
    ASSERT_TRUE(lkpsim::read_module_image(named.data(), named.size(), &info));
    EXPECT_EQ(info.name, "other_name");
}

// ---------------------------------------------------------------- faults

TEST_F(PackageBuilder, ContentMissing) {
    PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 1);
    spec.content_present = false;
    EXPECT_EQ(tar_list(build(spec)), (Lines{"hotfix_01/", "hotfix_01/fix_1.tar.gz"}));
}

TEST_F(PackageBuilder, StrayFilesAndExtraTopLevelEntries) {
    PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 1);
    spec.extra_in_dir = {{"README", "x"}, {"content~", "old"}};
    spec.extra_top = {{"second_dir/", ""}, {"other.txt", "y"}};
    EXPECT_EQ(tar_list(build(spec)),
              (Lines{"hotfix_01/", "hotfix_01/README", "hotfix_01/content", "hotfix_01/content~",
                     "hotfix_01/fix_1.tar.gz", "other.txt", "second_dir/"}));
}

TEST_F(PackageBuilder, UnitsNotListedOrNotPresent) {
    PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 3);
    spec.units[1].listed = false;
    spec.units[2].present = false;
    const std::string dir = extract(build(spec), "x") + "/hotfix_01";
    EXPECT_EQ(entries_of(dir), (Lines{"content", "fix_1.tar.gz", "fix_2.tar.gz"}));
    EXPECT_EQ(read_file(dir + "/content"),
              "versions: 1.0\ndescription: test package\ndate: 2020-01-01\nUnits List: 2\n"
              "fix_1.tar.gz\nfix_3.tar.gz\n");
}

TEST_F(PackageBuilder, RawManifestAndRawArchive) {
    PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 1);
    spec.manifest = "versions: 1\nUnits List: 1\n";
    spec.units[0].raw_archive = std::string("not\0an archive", 14);
    const std::string dir = extract(build(spec), "x") + "/hotfix_01";
    EXPECT_EQ(read_file(dir + "/content"), "versions: 1\nUnits List: 1\n");
    EXPECT_EQ(read_file(dir + "/fix_1.tar.gz"), std::string("not\0an archive", 14));
}

TEST_F(PackageBuilder, CustomArchiveAndDirectoryNames) {
    PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 1);
    spec.dir_name = "pkgdir";
    spec.units[0].archive = "a.tar.gz";
    spec.units[0].dir = "unit_dir";
    const std::string path = build(spec);
    EXPECT_EQ(tar_list(path), (Lines{"pkgdir/", "pkgdir/a.tar.gz", "pkgdir/content"}));
    const std::string dir = extract(path, "x") + "/pkgdir";
    EXPECT_EQ(tar_list(dir + "/a.tar.gz"), (Lines{"unit_dir/", "unit_dir/fix_1.ko"}));
}

TEST_F(PackageBuilder, ModuleAtTopOfUnitArchive) {
    PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 1);
    spec.units[0].module_at_top = true;
    const std::string dir = extract(build(spec), "x") + "/hotfix_01";
    EXPECT_EQ(tar_list(dir + "/fix_1.tar.gz"), Lines{"fix_1.ko"});
}

TEST_F(PackageBuilder, ExtraFilesInUnitDirectoryAndTopLevel) {
    PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 1);
    spec.units[0].extra_in_dir = {{"notes.txt", "n"}};
    spec.units[0].extra_top = {{"stray.txt", "s"}};
    const std::string dir = extract(build(spec), "x") + "/hotfix_01";
    EXPECT_EQ(tar_list(dir + "/fix_1.tar.gz"),
              (Lines{"fix_1/", "fix_1/fix_1.ko", "fix_1/notes.txt", "stray.txt"}));
}

TEST_F(PackageBuilder, EmptyModuleFileLeavesUnitDirectoryEmpty) {
    PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 1);
    spec.units[0].module_file.clear();
    spec.units[0].archive = "empty.tar.gz";
    spec.units[0].dir = "empty";
    const std::string dir = extract(build(spec), "x") + "/hotfix_01";
    EXPECT_EQ(tar_list(dir + "/empty.tar.gz"), Lines{"empty/"});
}

TEST_F(PackageBuilder, RawPackageBytes) {
    PackageSpec spec = lkpsim::simple_package("broken.tar.gz", 1);
    spec.raw_package = "plain text, not gzip";
    EXPECT_EQ(read_file(build(spec)), "plain text, not gzip");
}

TEST_F(PackageBuilder, FailuresReturnEmptyAndLeaveNothing) {
    EXPECT_EQ(lkpsim::build_package(lkpsim::simple_package("p.tar.gz", 1), root_ + "/missing"), "");
    EXPECT_EQ(lkpsim::build_package(lkpsim::simple_package("a/p.tar.gz", 1), out_), "");
    PackageSpec bad_entry = lkpsim::simple_package("p.tar.gz", 1);
    bad_entry.extra_in_dir = {{"", "no name"}};
    EXPECT_EQ(lkpsim::build_package(bad_entry, out_), "");
    EXPECT_TRUE(entries_of(out_).empty());
}

}  // namespace
