// What "lkpctl pack" is asked to build, checked against the name and
// manifest rules before anything is written.
#ifndef LKPCTL_PACK_REQUEST_H
#define LKPCTL_PACK_REQUEST_H

#include <string>
#include <vector>

#include "invocation.h"
#include "manifest.h"

namespace lkpctl {

struct PackUnit {
    std::string module_path;  // the module file as given
    std::string module_file;  // its base name, "<patch>.ko"
    std::string patch;        // the patch name: also the unit directory's name
    std::string archive;      // "<patch>.tar.gz"
};

struct PackRequest {
    std::string output;        // the package file to write
    std::string package_name;  // its base name, "<dir>.tar.gz"
    std::string package_dir;   // the package directory inside it
    std::vector<PackUnit> units;
    ManifestFields manifest;
    std::vector<std::string> warnings;
};

// Fills request from the command line. Empty on success; else the usage problem.
std::string make_pack_request(const Invocation &inv, PackRequest *request);

}  // namespace lkpctl

#endif
