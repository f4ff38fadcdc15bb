// Writing the plain kernel files and binding them over the kernel's paths.
#include "plain_kernel.h"

#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "lkpsim/lkpsim.h"
#include "scene.h"

namespace lkpbench {

namespace {

constexpr const char *CONTROL_FILE = "/proc/navo_lkp_list";
constexpr const char *STATE_FILE = "/proc/livepatch/state";
constexpr const char *LIVEPATCH_DIR = "/sys/kernel/livepatch";

std::string plain_root() {
    return lkpsim::scratch_root() + "/plain_kernel";
}
std::string plain_control() {
    return plain_root() + "/control";
}
std::string plain_state() {
    return plain_root() + "/state";
}
std::string plain_livepatch() {
    return plain_root() + "/livepatch";
}

std::string numbered(const char *format, int number) {
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

std::string package_name(int index) {
    return numbered("pkg%05d.tar.gz", index / PATCHES_PER_PACKAGE + 1);
}
std::string patch_name(int index) {
    return numbered("patch_%06d", index + 1);
}

bool enabled(int index, Switching switching) {
    switch (switching) {
        case Switching::AllEnabled:
            return true;
        case Switching::AllDisabled:
            return false;
        default:
            return index % 2 == 0;
    }
}

void write_tree(int n) {
    static int built = -1;
    if (built == n) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(plain_livepatch(), ignored);
    std::filesystem::create_directories(plain_livepatch(), ignored);
    for (int i = 0; i < n; ++i) {
        const std::string patch = plain_livepatch() + "/" + patch_name(i);
        const char *module = i % PATCHES_PER_PACKAGE == 0 ? COVERED_MODULE : "vmlinux";
        (void)mkdir(patch.c_str(), 0755);
        (void)mkdir((patch + "/" + module).c_str(), 0755);
        std::ofstream(patch + "/enabled") << "0\n";
    }
    built = n;
}

}  // namespace

PlainScene arrange_plain(int n, Switching switching) {
    std::error_code ignored;
    std::filesystem::create_directories(plain_root(), ignored);
    write_tree(n);
    // Rewritten in place (same inode), so a binding made earlier stays valid.
    std::ofstream control(plain_control(), std::ios::trunc);
    std::ofstream state(plain_state(), std::ios::trunc);
    state << "livepatch state\nnum\tpatch\tstate\n";
    PlainScene scene;
    for (int i = 0; i < n; ++i) {
        const std::string package = package_name(i);
        control << PATCHES_PER_PACKAGE << ',' << package << ',' << patch_name(i) << '\n';
        state << i + 1 << '\t' << patch_name(i) << '\t'
              << (enabled(i, switching) ? "enabled" : "disabled") << '\n';
        if (scene.first_package.empty()) {
            scene.first_package = package;
        }
        scene.last_package = package;
    }
    state << "end\n";
    return scene;
}

namespace {

bool bind(const std::string &source, const char *target) {
    return mount(source.c_str(), target, nullptr, MS_BIND, nullptr) == 0;
}

void unbind(bool bound, const char *target) {
    if (bound) {
        (void)umount2(target, MNT_DETACH);
    }
}

}  // namespace

PlainKernelView::PlainKernelView()
    : control_(bind(plain_control(), CONTROL_FILE)),
      state_(bind(plain_state(), STATE_FILE)),
      livepatch_(bind(plain_livepatch(), LIVEPATCH_DIR)) {}

PlainKernelView::~PlainKernelView() {
    unbind(livepatch_, LIVEPATCH_DIR);
    unbind(state_, STATE_FILE);
    unbind(control_, CONTROL_FILE);
}

}  // namespace lkpbench
