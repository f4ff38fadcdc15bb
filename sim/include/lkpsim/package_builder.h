// Builds real patch packages (gzip tar with a "content" manifest and unit
// archives, each holding one directory with one module file) for tests, the
// demo and the benchmarks, including every layout fault the package check
// must catch.
#ifndef LKPSIM_PACKAGE_BUILDER_H
#define LKPSIM_PACKAGE_BUILDER_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lkpsim/module_image.h"

namespace lkpsim {

// Extra entries are (name, bytes) pairs: a name ending in "/" is an empty
// directory, and a name with "/" inside gets its parent directories made.
using ExtraEntries = std::vector<std::pair<std::string, std::string>>;

// An archive member written as a raw tar header, for what the file system
// cannot stage or /bin/tar would not store: links, FIFOs, devices, and names
// with ".." or a leading "/". Appended after the generated members.
struct TarMember {
    enum class Kind { File, HardLink, Symlink, CharDevice, Fifo, Directory };
    std::string name;
    Kind kind = Kind::File;
    std::string link;    // target of a link
    std::string bytes;   // contents of a file
    unsigned major = 1;  // of a device: 1,3 is /dev/null
    unsigned minor = 3;

    static TarMember file(std::string name, std::string bytes);
    static TarMember symlink(std::string name, std::string target);
    static TarMember hard_link(std::string name, std::string target);
    static TarMember fifo(std::string name);
    static TarMember char_device(std::string name);
    static TarMember directory(std::string name);
};
using TarMembers = std::vector<TarMember>;

struct UnitSpec {
    // File name inside the unit directory, e.g. "fix_a.ko"; empty: the unit
    // directory holds no module.
    std::string module_file;
    // Its image; module.name defaults to module_file without ".ko", each "-"
    // made "_" as the kernel build does.
    ModuleSpec module;
    // Unit archive name; default: module_file stem + ".tar.gz".
    std::string archive;
    // Unit directory name; default: module_file stem.
    std::string dir;

    // Layout faults of the unit archive.
    ExtraEntries extra_in_dir;   // more files next to the module
    ExtraEntries extra_top;      // more top-level entries
    bool module_at_top = false;  // the module file itself is the top-level entry (no directory)
    std::optional<std::string> raw_archive;  // archive bytes as they are (damaged archives)
    bool listed = true;                      // named in the manifest's unit list
    bool present = true;                     // archive file present in the package directory
    bool dir_present = true;                 // the unit directory is made
    TarMembers members;                      // raw members appended to the unit archive
};

struct PackageSpec {
    std::string file_name = "hotfix_01.tar.gz";  // the package file's name
    std::string dir_name = "hotfix_01";          // the package directory inside it
    std::vector<UnitSpec> units;
    std::string version = "1.0";
    std::string description = "test package";
    std::string date = "2020-01-01";
    std::optional<std::string> manifest;  // raw "content" text instead of the generated one
    bool content_present = true;
    ExtraEntries extra_in_dir;               // stray files in the package directory
    ExtraEntries extra_top;                  // more top-level entries of the package
    std::optional<std::string> raw_package;  // package file bytes as they are (not an archive)
    bool dir_present = true;                 // the package directory is made
    TarMembers members;                      // raw members appended to the package archive
    TarMembers members_in_dir;               // the same, inside the package directory
};

// The manifest of a PackageSpec: four head lines and the listed units.
std::string manifest_for(const PackageSpec &spec);

// Builds the package file in out_dir and returns its path ("" on failure).
// Uses /bin/tar and /bin/gzip without a shell; leaves only the package file
// behind.
std::string build_package(const PackageSpec &spec, const std::string &out_dir);

// A package of n well-formed units named <prefix>1.ko ... <prefix>n.ko.
PackageSpec simple_package(const std::string &file_name, int n, const std::string &prefix = "fix_");

}  // namespace lkpsim

#endif
