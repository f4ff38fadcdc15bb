// The package builder: the layout as tar lists it, layout faults, the same
// bytes from the same spec, and nothing left next to the package.
#include "lkpsim/package_builder.h"

#include <sys/stat.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/module_image.h"
#include "sim_util.h"

namespace {

using lkpsim::PackageSpec;
using simtest::Bytes;
using simtest::Lines;

class PackageBuilderTest : public lkptest::KernelTest {
protected:
    // Builds into a fresh output directory, which must then hold the package only.
    std::string build(const PackageSpec &spec) {
        const std::string out = scratch_dir() + "/out" + std::to_string(++builds_);
        EXPECT_EQ(mkdir(out.c_str(), 0755), 0);
        const std::string path = lkpsim::build_package(spec, out);
        EXPECT_EQ(path, out + "/" + spec.file_name);
        EXPECT_EQ(lkptest::directory_entries(out), std::set<std::string>{spec.file_name});
        return path;
    }
    Lines list(const std::string &archive) {
        Lines names;
        EXPECT_EQ(simtest::run({"tar", "-tzf", archive}, &names), 0) << archive;
        return names;
    }
    // Extracts an archive into a new directory and returns that directory.
    std::string extract(const std::string &archive) {
        const std::string dir = scratch_dir() + "/x" + std::to_string(++builds_);
        Lines ignored;
        EXPECT_EQ(mkdir(dir.c_str(), 0755), 0);
        EXPECT_EQ(simtest::run({"tar", "-xzf", archive, "-C", dir}, &ignored), 0) << archive;
        return dir;
    }

private:
    int builds_ = 0;
};

TEST_F(PackageBuilderTest, PackageAndUnitLayoutAsTarListsThem) {
    const PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 2);
    const std::string path = build(spec);
    EXPECT_EQ(list(path), (Lines{"hotfix_01/", "hotfix_01/content", "hotfix_01/fix_1.tar.gz",
                                 "hotfix_01/fix_2.tar.gz"}));
    const std::string dir = extract(path) + "/hotfix_01";
    EXPECT_EQ(simtest::read_text(dir + "/content"),
              "versions: 1.0\ndescription: test package\ndate: 2020-01-01\nUnits List: 2\n"
              "fix_1.tar.gz\nfix_2.tar.gz\n");
    EXPECT_EQ(list(dir + "/fix_2.tar.gz"), (Lines{"fix_2/", "fix_2/fix_2.ko"}));
    const Bytes image = simtest::read_bytes(extract(dir + "/fix_2.tar.gz") + "/fix_2/fix_2.ko");
    lkpsim::ModuleInfo info;
    ASSERT_TRUE(lkpsim::read_module_image(image.data(), image.size(), &info));
    EXPECT_EQ(info.name, "fix_2");
    EXPECT_EQ(info.targets, Lines{"vmlinux"});
}

TEST_F(PackageBuilderTest, FaultLayouts) {
    struct Case {
        std::function<void(PackageSpec *)> fault;
        Lines package;
        Lines unit;  // of fix_1.tar.gz
    };
    const std::vector<Case> cases = {
        {[](PackageSpec *spec) {
             spec->content_present = false;
             spec->extra_in_dir = {{"README", "x"}};
             spec->extra_top = {{"second_dir/", ""}};
         },
         {"hotfix_01/", "hotfix_01/README", "hotfix_01/fix_1.tar.gz", "second_dir/"},
         {"fix_1/", "fix_1/fix_1.ko"}},
        {[](PackageSpec *spec) { spec->units[0].module_at_top = true; },
         {"hotfix_01/", "hotfix_01/content", "hotfix_01/fix_1.tar.gz"},
         {"fix_1.ko"}},
    };
    for (const Case &c : cases) {
        PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 1);
        c.fault(&spec);
        const std::string path = build(spec);
        EXPECT_EQ(list(path), c.package);
        EXPECT_EQ(list(extract(path) + "/hotfix_01/fix_1.tar.gz"), c.unit);
    }
}

TEST_F(PackageBuilderTest, SameSpecGivesSameBytes) {
    const PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 3);
    const Bytes first = simtest::read_bytes(build(spec));
    ASSERT_GE(first.size(), 10U);
    EXPECT_EQ(simtest::read_bytes(build(spec)), first);
}

TEST_F(PackageBuilderTest, FailedBuildLeavesNothing) {
    PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 1);
    spec.extra_in_dir = {{"", "an entry without a name"}};
    const std::string out = scratch_dir();
    EXPECT_EQ(lkpsim::build_package(spec, out), "");
    EXPECT_EQ(lkpsim::build_package(lkpsim::simple_package("a/p.tar.gz", 1), out), "");
    EXPECT_TRUE(lkptest::directory_entries(out).empty());
}

}  // namespace
