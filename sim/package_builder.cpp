// Patch package builder: lays the package out in a private staging directory
// under the output directory, archives it with /bin/tar and /bin/gzip (no
// shell), and leaves only the package file behind.
#include "lkpsim/package_builder.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>

namespace lkpsim {
namespace {

constexpr mode_t kFileMode = 0644;
constexpr mode_t kDirMode = 0755;
constexpr char kSuffix[] = ".tar.gz";

// ---------------------------------------------------------------- names

// The name without `suffix`, when it is longer than that and ends in it.
std::string without_suffix(const std::string &name, const std::string &suffix) {
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return name.substr(0, name.size() - suffix.size());
    }
    return name;
}

std::string stem_of(const std::string &module_file) {
    return without_suffix(module_file, ".ko");
}

std::string archive_of(const UnitSpec &unit) {
    return unit.archive.empty() ? stem_of(unit.module_file) + kSuffix : unit.archive;
}

std::string dir_of(const UnitSpec &unit) {
    return unit.dir.empty() ? stem_of(unit.module_file) : unit.dir;
}

// The module name the build gives a file: its stem with "-" made "_".
ModuleSpec module_of(const UnitSpec &unit) {
    ModuleSpec module = unit.module;
    if (module.name.empty()) {
        module.name = stem_of(unit.module_file);
        std::replace(module.name.begin(), module.name.end(), '-', '_');
    }
    return module;
}

// ---------------------------------------------------------------- files

bool write_file(const std::string &path, const std::string &bytes) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (out.fail()) {
            return false;
        }
    }
    return chmod(path.c_str(), kFileMode) == 0;
}

bool write_module(const std::string &path, const ModuleSpec &module) {
    return write_module_file(path, module) && chmod(path.c_str(), kFileMode) == 0;
}

bool make_dir(const std::string &path) {
    if (mkdir(path.c_str(), kDirMode) != 0 && errno != EEXIST) {
        return false;
    }
    return chmod(path.c_str(), kDirMode) == 0;  // independent of the umask
}

// Writes an extra entry below root: a name ending in "/" is a directory;
// parent directories of a nested name are made as needed.
bool write_entry(const std::string &root, const std::string &name, const std::string &bytes) {
    for (std::size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
        if (!make_dir(root + "/" + name.substr(0, slash))) {
            return false;
        }
    }
    return name.back() == '/' || write_file(root + "/" + name, bytes);
}

bool write_entries(const std::string &root, const ExtraEntries &entries) {
    return std::all_of(entries.begin(), entries.end(), [&](const auto &entry) {
        return !entry.first.empty() && write_entry(root, entry.first, entry.second);
    });
}

// Sorted names of a directory's entries, for a reproducible member order.
std::vector<std::string> entries_of(const std::string &dir) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR *)> stream(opendir(dir.c_str()), closedir);
    if (!stream) {
        return names;
    }
    while (const dirent *entry = readdir(stream.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

int remove_one(const char *path, const struct stat * /*status*/, int /*flag*/, FTW * /*walk*/) {
    return remove(path);
}

// A private directory that takes everything in it along when it goes.
class StagingDir {
public:
    explicit StagingDir(const std::string &parent) {
        std::string pattern = parent + "/.lkpsim_stage_XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~StagingDir() {
        if (!path_.empty()) {
            nftw(path_.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
        }
    }
    StagingDir(const StagingDir &) = delete;
    StagingDir &operator=(const StagingDir &) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// ---------------------------------------------------------------- archiving

// Runs a program by absolute path with an empty environment; true when it
// exits with status 0.
bool run(std::vector<std::string> args) {
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (std::string &arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    char *const environment[] = {nullptr};
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        execve(argv[0], argv.data(), environment);
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Archives every entry of `source` into `target` (a .tar.gz path) with fixed
// owners, times and order, so the same tree always gives the same bytes.
bool archive(const std::string &source, const std::string &target) {
    const std::string tar_file = target.substr(0, target.size() - 3);  // drop ".gz"
    std::vector<std::string> args = {
        "/bin/tar",     "--sort=name", "--owner=0", "--group=0", "--numeric-owner", "--mtime=@0",
        "--format=gnu", "-C",          source,      "-cf",       tar_file,          "--"};
    const std::vector<std::string> members = entries_of(source);
    args.insert(args.end(), members.begin(), members.end());
    return run(args) && run({"/bin/gzip", "-n", "-9", "-f", tar_file});
}

// ---------------------------------------------------------------- layout

// Fills `root` with the top-level entries of one unit archive.
bool lay_out_unit(const UnitSpec &unit, const std::string &root) {
    const ModuleSpec module = module_of(unit);
    if (unit.module_at_top) {
        return write_module(root + "/" + unit.module_file, module) &&
               write_entries(root, unit.extra_top);
    }
    const std::string dir = root + "/" + dir_of(unit);
    if (!make_dir(dir) || !write_entries(dir, unit.extra_in_dir) ||
        !write_entries(root, unit.extra_top)) {
        return false;
    }
    // An empty module file name leaves the unit directory without a module.
    return unit.module_file.empty() || write_module(dir + "/" + unit.module_file, module);
}

// Writes unit number `index`'s archive into the package directory.
bool place_unit(const UnitSpec &unit, std::size_t index, const std::string &stage,
                const std::string &package_dir) {
    const std::string target = package_dir + "/" + archive_of(unit);
    if (unit.raw_archive) {
        return write_file(target, *unit.raw_archive);
    }
    const std::string root = stage + "/unit" + std::to_string(index);
    const std::string built = root + kSuffix;
    return make_dir(root) && lay_out_unit(unit, root) && archive(root, built) &&
           chmod(built.c_str(), kFileMode) == 0 && rename(built.c_str(), target.c_str()) == 0;
}

bool lay_out_package(const PackageSpec &spec, const std::string &stage, const std::string &root) {
    const std::string package_dir = root + "/" + spec.dir_name;
    if (!make_dir(root) || !make_dir(package_dir)) {
        return false;
    }
    if (spec.content_present && !write_file(package_dir + "/content", manifest_for(spec))) {
        return false;
    }
    for (std::size_t i = 0; i < spec.units.size(); ++i) {
        if (spec.units[i].present && !place_unit(spec.units[i], i, stage, package_dir)) {
            return false;
        }
    }
    return write_entries(package_dir, spec.extra_in_dir) && write_entries(root, spec.extra_top);
}

bool build_into(const PackageSpec &spec, const std::string &stage, const std::string &path) {
    const std::string built = stage + "/package" + kSuffix;
    if (spec.raw_package) {
        if (!write_file(built, *spec.raw_package)) {
            return false;
        }
    } else {
        const std::string root = stage + "/package";
        if (!lay_out_package(spec, stage, root) || !archive(root, built)) {
            return false;
        }
    }
    return chmod(built.c_str(), kFileMode) == 0 && rename(built.c_str(), path.c_str()) == 0;
}

}  // namespace

std::string manifest_for(const PackageSpec &spec) {
    if (spec.manifest) {
        return *spec.manifest;
    }
    std::string list;
    int listed = 0;
    for (const UnitSpec &unit : spec.units) {
        if (unit.listed) {
            list += archive_of(unit) + "\n";
            ++listed;
        }
    }
    return "versions: " + spec.version + "\n" + "description: " + spec.description + "\n" +
           "date: " + spec.date + "\n" + "Units List: " + std::to_string(listed) + "\n" + list;
}

std::string build_package(const PackageSpec &spec, const std::string &out_dir) {
    if (spec.file_name.empty() || spec.file_name.find('/') != std::string::npos) {
        return "";
    }
    std::string path = out_dir + "/" + spec.file_name;
    const StagingDir stage(out_dir);
    if (!stage.ok() || !build_into(spec, stage.path(), path)) {
        return "";
    }
    return path;
}

PackageSpec simple_package(const std::string &file_name, int n, const std::string &prefix) {
    PackageSpec spec;
    spec.file_name = file_name;
    spec.dir_name = without_suffix(file_name, kSuffix);
    for (int i = 1; i <= n; ++i) {
        UnitSpec unit;
        unit.module_file = prefix + std::to_string(i) + ".ko";
        spec.units.push_back(unit);
    }
    return spec;
}

}  // namespace lkpsim
