// Mount and directory helpers. Under valgrind the type and source of a mount
// must be real strings, so "none" stands where the kernel ignores them.
#include "mounts.h"

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace lkpsim {

namespace {

bool fail(const std::string &what, std::string *error) {
    *error = what + ": " + std::strerror(errno);
    return false;
}

bool link_entry(const std::string &real, const std::string &link, std::string *error) {
    struct stat status {};
    std::string target = real;
    if (lstat(real.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        std::vector<char> text(4096);
        const ssize_t length = readlink(real.c_str(), text.data(), text.size() - 1);
        if (length < 0) {
            return fail("readlink " + real, error);
        }
        target.assign(text.data(), static_cast<std::size_t>(length));
    }
    return symlink(target.c_str(), link.c_str()) == 0 || fail("symlink " + link, error);
}

}  // namespace

bool mount_tmpfs(const std::string &target, const char *mode, std::string *error) {
    const std::string options = std::string("mode=") + mode;
    return mount("lkpsim", target.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0 ||
           fail("mount tmpfs on " + target, error);
}

bool bind_tree(const std::string &source, const std::string &target, std::string *error) {
    return mount(source.c_str(), target.c_str(), "none", MS_BIND | MS_REC, nullptr) == 0 ||
           fail("bind " + source + " on " + target, error);
}

bool make_private_root(std::string *error) {
    return mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) == 0 ||
           fail("make / private", error);
}

bool make_dirs(const std::string &path, std::string *error) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            return fail("mkdir " + prefix, error);
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

bool link_entries(const std::string &real_dir, const std::string &dir,
                  const std::set<std::string> &skip, std::string *error) {
    std::unique_ptr<DIR, int (*)(DIR *)> listing(opendir(real_dir.c_str()), closedir);
    if (!listing) {
        return fail("opendir " + real_dir, error);
    }
    for (const dirent *entry = readdir(listing.get()); entry != nullptr;
         entry = readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || skip.count(name) != 0) {
            continue;
        }
        const std::string separator_name = "/" + name;
        if (!link_entry(real_dir + separator_name, dir + separator_name, error)) {
            return false;
        }
    }
    return true;
}

}  // namespace lkpsim
