// The kernel test fixture: reset before each test, leak checks after it.
#include "kernel_test.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "lkpsim/lkpsim.h"

namespace lkptest {

namespace {

using DirStream = std::unique_ptr<DIR, int (*)(DIR *)>;

DirStream open_dir(const std::string &dir) {
    return DirStream(opendir(dir.c_str()), closedir);
}

std::string link_target(int dir_fd, const char *name) {
    std::vector<char> target(4096);
    const ssize_t length = readlinkat(dir_fd, name, target.data(), target.size() - 1);
    return length < 0 ? "?" : std::string(target.data(), static_cast<std::size_t>(length));
}

std::string test_name() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name =
        info == nullptr ? "test" : std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name) {
        c = c == '/' ? '_' : c;
    }
    return name;
}

}  // namespace

std::map<int, std::string> open_descriptors() {
    std::map<int, std::string> descriptors;
    DirStream dir = open_dir("/proc/self/fd");
    if (!dir) {
        ADD_FAILURE() << "cannot list /proc/self/fd";
        return descriptors;
    }
    const int own = dirfd(dir.get());
    for (const dirent *entry = readdir(dir.get()); entry != nullptr; entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const int fd = std::stoi(entry->d_name);
        if (fd != own) {
            descriptors[fd] = link_target(own, entry->d_name);
        }
    }
    return descriptors;
}

std::set<std::string> directory_entries(const std::string &path) {
    std::set<std::string> names;
    DirStream dir = open_dir(path);
    for (const dirent *entry = dir ? readdir(dir.get()) : nullptr; entry != nullptr;
         entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.insert(name);
        }
    }
    return names;
}

ProcessSnapshot ProcessSnapshot::take() {
    return {open_descriptors(), directory_entries("/tmp")};
}

std::vector<std::string> leftovers(const ProcessSnapshot &before) {
    const ProcessSnapshot now = ProcessSnapshot::take();
    std::vector<std::string> found;
    for (const std::string &name : now.tmp_entries) {
        if (name.rfind("lkp_", 0) == 0) {
            found.push_back("temporary directory left behind: /tmp/" + name);
        }
    }
    if (now.tmp_entries != before.tmp_entries) {
        found.emplace_back("/tmp changed");
    }
    for (const auto &[fd, target] : now.descriptors) {
        if (before.descriptors.count(fd) == 0) {
            found.push_back("descriptor left open: " + std::to_string(fd) + " -> " + target);
        }
    }
    return found;
}

void KernelTest::SetUp() {
    lkpsim::reset();
    before_ = ProcessSnapshot::take();
}

void KernelTest::TearDown() {
    if (!scratch_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }
    for (const std::string &message : leftovers(before_)) {
        ADD_FAILURE() << message;
    }
}

std::string KernelTest::scratch_dir() {
    if (scratch_.empty()) {
        scratch_ = lkpsim::scratch_root() + "/" + test_name();
        std::error_code error;
        std::filesystem::create_directories(scratch_, error);
        EXPECT_FALSE(error) << "cannot make " << scratch_ << ": " << error.message();
    }
    return scratch_;
}

bool under_valgrind() {
    const char *preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

int run_words(std::vector<std::string> words, std::string *out, std::string *err) {
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return lkpsim::run_program(argv.data(), out, err);
}

}  // namespace lkptest
