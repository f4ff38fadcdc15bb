// The scratch directory of "lkpctl pack".
#include "staging_dir.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace lkpctl {
namespace {

std::string temp_root() {
    const char *tmpdir = std::getenv("TMPDIR");
    return tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
}

}  // namespace

StagingDir::StagingDir() {
    std::string name = temp_root() + "/lkpctl-XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        error_ = errno;
        return;
    }
    path_ = buffer.data();
}

StagingDir::~StagingDir() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

}  // namespace lkpctl
