// libFuzzer target: the manifest reader. The input is the manifest text; the
// package directory (made once) holds two unit archives, so unit lines can
// name existing, missing, repeated and outside files.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "kernel/patch_list.h"
#include "ops/package_check.h"

namespace {

constexpr const char *UNITS[] = {"/a.tar.gz", "/b.tar.gz"};

std::string &made_dir() {
    static std::string dir;
    return dir;
}

// The directory goes when the fuzzer exits normally.
void remove_package_dir() {
    for (const char *unit : UNITS) {
        unlink((made_dir() + unit).c_str());
    }
    rmdir(made_dir().c_str());
}

const char *package_dir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/lkp_fuzz_XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::abort();
        }
        made_dir() = pattern;
        std::atexit(remove_package_dir);
        for (const char *unit : UNITS) {
            FILE *file = std::fopen((std::string(pattern) + unit).c_str(), "w");
            if (file == nullptr) {
                std::abort();
            }
            std::fclose(file);
        }
        return std::string(pattern);
    }();
    return dir.c_str();
}

}  // namespace

// The reader's log lines stay in this process: never the machine's log.
extern "C" void syslog(int /*priority*/, const char * /*format*/, ...) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // fmemopen needs a buffer; an empty one is not allowed.
    if (size == 0) {
        return 0;
    }
    FILE *manifest = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (manifest == nullptr) {
        return 0;
    }
    for (int32_t found : {1, 2}) {
        rewind(manifest);
        tesvar::PatchList units;
        if (units) {
            tesvar::read_manifest(manifest, package_dir(), found, units.head());
        }
    }
    std::fclose(manifest);
    return 0;
}
