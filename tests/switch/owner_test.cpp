// The owner query (which package last patched a module) and the unsupported
// batch entries.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "kernel_test.h"
#include "switch_support.h"
#include "tesvar.h"

namespace switch_test {
namespace {

constexpr uint32_t ANSWER_SIZE = 64;
const std::string UNTOUCHED(ANSWER_SIZE, '#');

class Owner : public lkptest::KernelTest {
protected:
    // The query into a buffer of `size` bytes that starts as UNTOUCHED.
    int32_t ask(const char *ko, uint32_t size = ANSWER_SIZE) {
        answer_.assign(UNTOUCHED.begin(), UNTOUCHED.end());
        return navo_lkp_last_patch_for_module(ko, answer_.data(), size);
    }
    std::string answer() const { return std::string(answer_.data(), answer_.size()); }
    std::string answer_text() const { return std::string(answer_.data()); }

    // pa of PKG_A patches nfs; every other patch is no match for nfs.
    void arrange_covering_nfs() { arrange({{PKG_A, "pa", "enabled", {"nfs"}}}); }

private:
    std::vector<char> answer_;
};

// Every record whose patch covers the module replaces the answer; records
// whose patch does not cover it, or has no livepatch directory, are skipped
// silently. A 64-byte buffer is enough.
TEST_F(Owner, LastMatchingRecordWinsInEitherOrder) {
    const Patch a{PKG_A, "pa", "enabled", {"ext4", "nfs"}};
    const Patch b{PKG_B, "pb", "disabled", {"nfs"}};
    const Patch other{"pkgX.tar.gz", "px", "enabled", {"ext4"}};
    const Patch hidden{"pkgH.tar.gz", "ph", "enabled", {"nfs"}};
    for (const auto &[scene, expected] :
         {std::make_pair(std::vector<Patch>{a, other, b, hidden}, PKG_B),
          std::make_pair(std::vector<Patch>{b, other, a, hidden}, PKG_A)}) {
        SCOPED_TRACE(expected);
        lkpsim::reset();
        arrange(scene);
        lkpsim::hide_livepatch_dir("ph");
        EXPECT_EQ(ask("nfs"), 0);
        EXPECT_EQ(answer_text(), expected);
        EXPECT_EQ(logged(), Lines{});
        EXPECT_EQ(lkpsim::history(), Lines{});
    }
}

const std::string EINVAL_LINE =
    err("fail: EINVAL, navo_lkp_last_patch_for_module need ko_name != NULL && pkg_name != NULL && "
        "pkg_name_len >= 64\n");

TEST_F(Owner, BadArgumentsLeaveTheBufferUntouched) {
    arrange_covering_nfs();
    EXPECT_EQ(ask("nfs", ANSWER_SIZE - 1), -22);
    EXPECT_EQ(ask(nullptr), -22);
    EXPECT_EQ(answer(), UNTOUCHED);
    EXPECT_EQ(navo_lkp_last_patch_for_module("nfs", nullptr, ANSWER_SIZE), -22);
    EXPECT_EQ(logged(), Lines(3, EINVAL_LINE));
}

// A module name that would make the patch's own directory or the livepatch
// root match is refused before the control file is opened (it is absent
// here: a name that got that far would give -2).
TEST_F(Owner, PathLikeModuleNamesAreRefused) {
    arrange_covering_nfs();
    EXPECT_EQ(ask("nfs"), 0);
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    logged();
    const char *names[] = {"", ".", "..", "/", "nfs/", "/nfs", "../pa", "a/b", "./nfs"};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ask(name), -22);
        EXPECT_EQ(answer(), UNTOUCHED);
        EXPECT_EQ(logged(), Lines{EINVAL_LINE});
    }
    // Names with dots that are not path steps go on to the control file.
    for (const char *name : {"...", ".nfs", "nfs.."}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ask(name), -2);
        EXPECT_EQ(logged(), Lines{err("fail: can't open /proc/navo_lkp_list\n")});
    }
    EXPECT_EQ(lkpsim::history(), Lines{});
}

// The manager module is absent: the open's own errno comes back negated.
TEST_F(Owner, MissingControlFile) {
    arrange_covering_nfs();
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    EXPECT_EQ(ask("nfs"), -2);
    EXPECT_EQ(answer(), UNTOUCHED);
    EXPECT_EQ(logged(), Lines{err("fail: can't open /proc/navo_lkp_list\n")});
}

struct ScanCase {
    const char *label;
    const char *control;  // raw control file, or null for pa's record
    std::string ko;
    int32_t rc;
    Lines log;
};

// A module name that makes "/sys/kernel/livepatch/pa/<ko>/" this long.
std::string ko_for_path(std::size_t path_length) {
    return std::string(path_length - std::strlen("/sys/kernel/livepatch/pa//"), 'k');
}

// Every way the scan ends without an answer: the buffer stays untouched.
TEST_F(Owner, ScanFailuresLeaveTheBufferUntouched) {
    const Lines bad_line{err("fail: error when read proc\n")};
    const ScanCase rows[] = {
        {"MalformedLineAfterMatch", "1,pkgA.tar.gz,pa\nbroken\n", "nfs", -317, bad_line},
        {"BlankLineAfterMatch", "1,pkgA.tar.gz,pa\n\n", "nfs", -317, bad_line},
        {"EmptyControlFile", "", "nfs", -19, {info("no found any pkg for ko nfs\n")}},
        {"NoPatchCoversModule", nullptr, "ext4", -19, {info("no found any pkg for ko ext4\n")}},
        {"PathOver1023", nullptr, ko_for_path(1024), -260, {err("fail for snprintf_s\n")}},
        // The path fits but names nothing; the not-found message is too long
        // for the log channel and is dropped.
        {"PathOf1023", nullptr, ko_for_path(1023), -19, {}},
        {"LongNameEmptyControlFile", "", ko_for_path(1024), -19, {}}};
    for (const ScanCase &row : rows) {
        SCOPED_TRACE(row.label);
        lkpsim::reset();
        arrange_covering_nfs();
        if (row.control != nullptr) {
            lkpsim::set_raw_control(row.control);
        }
        EXPECT_EQ(ask(row.ko.c_str()), row.rc);
        EXPECT_EQ(answer(), UNTOUCHED);
        EXPECT_EQ(logged(), row.log);
        EXPECT_EQ(lkpsim::history(), Lines{});
    }
}

// The not-found message keeps its own newline: the line ends in two.
TEST_F(Owner, NotFoundLineEndsInTwoNewlines) {
    ASSERT_EQ(ask("nfs"), -19);
    const std::vector<lkpsim::LogLine> log = lkpsim::take_log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].priority, LOG_INFO);
    EXPECT_EQ(log[0].text, "[LKP-INFO]:no found any pkg for ko nfs\n\n");
}

// Descriptors taken until none is left below a lowered limit, then `spare`
// of them given back; everything restored at the end.
class SpareDescriptors {
public:
    explicit SpareDescriptors(int spare) {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = LIMIT;
        ok_ = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
        for (int fd = fcntl(0, F_DUPFD_CLOEXEC, 0); fd >= 0; fd = fcntl(0, F_DUPFD_CLOEXEC, 0)) {
            taken_.push_back(fd);
        }
        for (int k = 0; k < spare && !taken_.empty(); ++k) {
            close(taken_.back());
            taken_.pop_back();
        }
    }
    SpareDescriptors(const SpareDescriptors &) = delete;
    SpareDescriptors &operator=(const SpareDescriptors &) = delete;
    ~SpareDescriptors() {
        for (int fd : taken_) {
            close(fd);
        }
        setrlimit(RLIMIT_NOFILE, &saved_);
    }
    bool ok() const { return ok_; }

private:
    static constexpr rlim_t LIMIT = 256;
    rlimit saved_{};
    bool ok_ = false;
    std::vector<int> taken_;
};

// Out of descriptors, the query fails with the open's errno (-24) and says
// which open failed; it never answers "not patched" (-19) for a module that
// is patched.
TEST_F(Owner, NoDescriptorLeftIsAnErrorNotAnAnswer) {
    arrange_covering_nfs();
    // Connects the log socket before descriptors run out.
    ASSERT_EQ(ask("ext4"), -19);
    logged();
    const std::pair<int, std::pair<int32_t, Lines>> rows[] = {
        {0, {-EMFILE, {err("fail: can't open /proc/navo_lkp_list\n")}}},
        {1, {-EMFILE, {err("fail: can't open /sys/kernel/livepatch\n")}}},
        {2, {0, {}}},
    };
    for (const auto &[spare, expected] : rows) {
        SCOPED_TRACE(spare);
        int32_t rc = 0;
        {
            const SpareDescriptors limit(spare);
            ASSERT_TRUE(limit.ok());
            rc = ask("nfs");
        }
        EXPECT_EQ(rc, expected.first);
        if (expected.first == 0) {
            EXPECT_EQ(answer_text(), PKG_A);
        } else {
            EXPECT_EQ(answer(), UNTOUCHED);
        }
        EXPECT_EQ(logged(), expected.second);
    }
    EXPECT_EQ(lkpsim::history(), Lines{});
}

using Batch = lkptest::KernelTest;

TEST_F(Batch, UnsupportedEntriesLogAndSucceed) {
    const std::pair<int32_t (*)(), std::string> entries[] = {
        {navo_lkp_apply_patches, "navo_lkp_apply_patches"},
        {navo_lkp_reverse_patches, "navo_lkp_reverse_patches"},
    };
    for (const auto &[entry, name] : entries) {
        SCOPED_TRACE(name);
        EXPECT_EQ(entry(), 0);
        EXPECT_EQ(logged(), Lines{err("[LKP-ERR] no support function: " + name + "\n")});
    }
    EXPECT_EQ(lkpsim::history(), Lines{});
}

}  // namespace
}  // namespace switch_test
