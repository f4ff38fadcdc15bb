// What the guest's own architecture shows, checked before the suites run on
// every boot: lkpctl built for the guest reads the module images built for
// its kernel (byte order, vermagic); the C library's sleeps reach the
// kernel, the library's waits really wait, and a date past 2038 is kept
// whole. On a 32-bit kernel without its 32-bit time calls the C library's
// sleeps fail with ENOSYS and every wait loop of the library spins. The host
// reads the LKPVM- lines like the suites'.
#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "guest_checks.h"
#include "guest_kernel.h"
#include "sys/monotonic_clock.h"

namespace {

// 2040-01-01T00:00:00Z, past the end of a signed 32-bit time_t.
constexpr time_t PAST_2038 = 2208988800;
const char *const PROBE = "/tmp/guest_target_probe";

const std::string CMDLINE_PKG = "/opt/lkp/pkg/cmdline.tar.gz";

std::string running_release() {
    utsname uts{};
    uname(&uts);
    return uts.release;
}

// The vermagic lines of lkpctl info's text, one per module.
std::vector<std::string> vermagics(const std::string &info) {
    std::vector<std::string> found;
    const std::string key = "vermagic: ";
    for (size_t at = info.find(key); at != std::string::npos; at = info.find(key, at + 1)) {
        const size_t end = info.find('\n', at);
        found.push_back(info.substr(at + key.size(), end - at - key.size()));
    }
    return found;
}

void lkpctl_reads_module_images() {
    const guest::ToolRun run = guest::run_lkpctl({"info", CMDLINE_PKG});
    CHECK_EQ(run.status, 0);
    const std::vector<std::string> found = vermagics(run.out);
    CHECK_EQ(static_cast<int>(found.size()), 1);
    if (!found.empty()) {
        CHECK_EQ(found[0].substr(0, found[0].find(' ')), running_release());
    }
    CHECK(run.out.find("    name: lkp_cmdline\n") != std::string::npos);
    CHECK(run.out.find("    livepatch: Y\n") != std::string::npos);
}

void lkpctl_checks_release() {
    CHECK_EQ(
        guest::run_lkpctl({"check", "--kernel-release", running_release(), CMDLINE_PKG}).status, 0);
    CHECK(
        guest::run_lkpctl({"check", "--kernel-release", running_release() + "-other", CMDLINE_PKG})
            .status != 0);
}

std::string error_name(int error) {
    return error == 0 ? "0" : guest::error_text(error);
}

void c_library_sleeps() {
    timespec one_ms{0, 1000000};
    CHECK_EQ(error_name(clock_nanosleep(CLOCK_MONOTONIC, 0, &one_ms, nullptr)), std::string("0"));
    errno = 0;
    const int slept = nanosleep(&one_ms, nullptr);
    CHECK_EQ(error_name(slept == 0 ? 0 : errno), std::string("0"));
}

// A sleep ends no earlier than asked; a failing sleep returns at once.
void library_sleep_waits() {
    const int64_t asked = 300;
    const int64_t before = tesvar::monotonic_ms();
    tesvar::sleep_ms(asked);
    const int64_t slept = tesvar::monotonic_ms() - before;
    if (slept < asked) {
        guest::record_failure(__FILE__, __LINE__,
                              "sleep_ms(" + std::to_string(asked) + ") returned after " +
                                  std::to_string(slept) + " ms");
    }
}

void date_past_2038() {
    static_assert(sizeof(time_t) == 8, "the guest programs use a 64-bit time_t");
    timespec saved{};
    CHECK_EQ(clock_gettime(CLOCK_REALTIME, &saved), 0);
    const int64_t started = tesvar::monotonic_ms();
    timespec future{PAST_2038, 0};
    CHECK_EQ(error_name(clock_settime(CLOCK_REALTIME, &future) == 0 ? 0 : errno), std::string("0"));
    CHECK(time(nullptr) >= PAST_2038);
    FILE *probe = std::fopen(PROBE, "we");
    CHECK(probe != nullptr);
    if (probe != nullptr) {
        CHECK_EQ(std::fclose(probe), 0);
        struct stat st {};
        CHECK_EQ(stat(PROBE, &st), 0);
        CHECK(st.st_mtime >= PAST_2038);
        CHECK_EQ(unlink(PROBE), 0);
    }
    // The monotonic clock ignores the date: the library's waits still wait.
    library_sleep_waits();
    // Back to the saved date plus the time spent, rounded up to a whole
    // second: a machine without a real-time clock starts at the epoch, where
    // the kernel refuses a date before the time since boot (EINVAL).
    const int64_t elapsed = tesvar::monotonic_ms() - started;
    saved.tv_sec += static_cast<time_t>(elapsed / 1000 + 1);
    CHECK_EQ(error_name(clock_settime(CLOCK_REALTIME, &saved) == 0 ? 0 : errno), std::string("0"));
    CHECK(time(nullptr) < PAST_2038);
}

}  // namespace

int main() {
    guest::run_case("lkpctl info reads the module images", lkpctl_reads_module_images);
    guest::run_case("lkpctl check compares the running release", lkpctl_checks_release);
    guest::run_case("C library sleeps", c_library_sleeps);
    guest::run_case("library sleep waits", library_sleep_waits);
    guest::run_case("date past 2038", date_past_2038);
    return guest::verdict();
}
