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
#include <iterator>
#include <memory>
#include <utility>

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

// ---------------------------------------------------------------- raw members

constexpr std::size_t kBlock = 512;

void put_field(std::string &header, std::size_t offset, std::size_t width,
               const std::string &text) {
    header.replace(offset, std::min(text.size(), width), text.substr(0, width));
}

std::string octal(unsigned long long value, std::size_t digits) {
    std::string text(digits, '0');
    for (std::size_t i = digits; i-- > 0 && value != 0; value >>= 3U) {
        text[i] = static_cast<char>('0' + (value & 7U));
    }
    return text;
}

char type_flag(TarMember::Kind kind) {
    switch (kind) {
        case TarMember::Kind::HardLink:
            return '1';
        case TarMember::Kind::Symlink:
            return '2';
        case TarMember::Kind::CharDevice:
            return '3';
        case TarMember::Kind::Directory:
            return '5';
        case TarMember::Kind::Fifo:
            return '6';
        case TarMember::Kind::File:
            break;
    }
    return '0';
}

std::string raw_header(const TarMember &member);

// A GNU long-name header carrying a name or link target over 100 bytes.
std::string long_text(char type, const std::string &text) {
    TarMember carrier = TarMember::file("././@LongLink", text + '\0');
    std::string block = raw_header(carrier);
    block[156] = type;
    // The checksum covers the type flag: computed again.
    block.replace(148, 8, std::string(8, ' '));
    unsigned sum = 0;
    for (std::size_t i = 0; i < kBlock; ++i) {
        sum += static_cast<unsigned char>(block[i]);
    }
    block.replace(148, 8, octal(sum, 6) + std::string("\0 ", 2));
    return block;
}

// One member: long-name headers when needed, its header and a file's data.
std::string raw_member(const TarMember &member) {
    std::string prefix;
    if (member.link.size() > 100) {
        prefix += long_text('K', member.link);
    }
    if (member.name.size() > 100) {
        prefix += long_text('L', member.name);
    }
    return prefix + raw_header(member);
}

// One ustar header (and the data blocks of a file).
std::string raw_header(const TarMember &member) {
    std::string header(kBlock, '\0');
    const bool is_file = member.kind == TarMember::Kind::File;
    const std::size_t size = is_file ? member.bytes.size() : 0;
    put_field(header, 0, 100, member.name);
    put_field(header, 100, 7, octal(member.kind == TarMember::Kind::Directory ? 0755 : 0644, 7));
    put_field(header, 108, 7, octal(0, 7));
    put_field(header, 116, 7, octal(0, 7));
    put_field(header, 124, 11, octal(size, 11));
    put_field(header, 136, 11, octal(0, 11));
    header[156] = type_flag(member.kind);
    put_field(header, 157, 100, member.link);
    put_field(header, 257, 6, std::string("ustar\0", 6));
    put_field(header, 263, 2, "00");
    put_field(header, 329, 7, octal(member.major, 7));
    put_field(header, 337, 7, octal(member.minor, 7));
    put_field(header, 148, 8, std::string(8, ' '));
    unsigned sum = 0;
    for (const char byte : header) {
        sum += static_cast<unsigned char>(byte);
    }
    put_field(header, 148, 8, octal(sum, 6) + std::string("\0 ", 2));
    const std::size_t padded = (size + kBlock - 1) / kBlock * kBlock;
    return header + member.bytes.substr(0, size) + std::string(padded - size, '\0');
}

// The length of a tar file up to its end-of-archive blocks.
std::size_t members_end(const std::string &tar) {
    std::size_t at = 0;
    while (at + kBlock <= tar.size() && tar.compare(at, kBlock, std::string(kBlock, '\0')) != 0) {
        const std::size_t size = std::stoull(tar.substr(at + 124, 12), nullptr, 8);
        at += kBlock + (size + kBlock - 1) / kBlock * kBlock;
    }
    return std::min(at, tar.size());
}

bool read_whole(const std::string &path, std::string *bytes) {
    std::ifstream in(path, std::ios::binary);
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Appends raw members to the tar file (made afresh when there is none).
bool append_members(const std::string &tar_file, const TarMembers &members) {
    std::string tar;
    if (access(tar_file.c_str(), F_OK) == 0 && !read_whole(tar_file, &tar)) {
        return false;
    }
    tar.resize(members_end(tar));
    for (const TarMember &member : members) {
        tar += raw_member(member);
    }
    tar += std::string(2 * kBlock, '\0');
    return write_file(tar_file, tar);
}

// Archives every entry of `source` into `target` (a .tar.gz path) with fixed
// owners, times and order, so the same tree always gives the same bytes; raw
// members follow.
bool archive(const std::string &source, const std::string &target,
             const TarMembers &raw = TarMembers{}) {
    const std::string tar_file = target.substr(0, target.size() - 3);  // drop ".gz"
    std::vector<std::string> args = {
        "/bin/tar",     "--sort=name", "--owner=0", "--group=0", "--numeric-owner", "--mtime=@0",
        "--format=gnu", "-C",          source,      "-cf",       tar_file,          "--"};
    const std::vector<std::string> members = entries_of(source);
    args.insert(args.end(), members.begin(), members.end());
    if (!members.empty() && !run(args)) {
        return false;
    }
    if ((members.empty() || !raw.empty()) && !append_members(tar_file, raw)) {
        return false;
    }
    return run({"/bin/gzip", "-n", "-9", "-f", tar_file});
}

// ---------------------------------------------------------------- layout

// Fills `root` with the top-level entries of one unit archive.
bool lay_out_unit(const UnitSpec &unit, const std::string &root) {
    const ModuleSpec module = module_of(unit);
    if (unit.module_at_top) {
        return write_module(root + "/" + unit.module_file, module) &&
               write_entries(root, unit.extra_top);
    }
    if (!unit.dir_present) {
        return write_entries(root, unit.extra_top);
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
    return make_dir(root) && lay_out_unit(unit, root) && archive(root, built, unit.members) &&
           chmod(built.c_str(), kFileMode) == 0 && rename(built.c_str(), target.c_str()) == 0;
}

bool lay_out_package(const PackageSpec &spec, const std::string &stage, const std::string &root) {
    const std::string package_dir = root + "/" + spec.dir_name;
    if (!make_dir(root)) {
        return false;
    }
    if (!spec.dir_present) {
        return write_entries(root, spec.extra_top);
    }
    if (!make_dir(package_dir)) {
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
        TarMembers raw = spec.members;
        for (TarMember member : spec.members_in_dir) {
            member.name = spec.dir_name + "/" + member.name;
            raw.push_back(member);
        }
        if (!lay_out_package(spec, stage, root) || !archive(root, built, raw)) {
            return false;
        }
    }
    return chmod(built.c_str(), kFileMode) == 0 && rename(built.c_str(), path.c_str()) == 0;
}

}  // namespace

TarMember TarMember::file(std::string name, std::string bytes) {
    TarMember member;
    member.name = std::move(name);
    member.bytes = std::move(bytes);
    return member;
}

TarMember TarMember::symlink(std::string name, std::string target) {
    TarMember member;
    member.name = std::move(name);
    member.kind = Kind::Symlink;
    member.link = std::move(target);
    return member;
}

TarMember TarMember::hard_link(std::string name, std::string target) {
    TarMember member = symlink(std::move(name), std::move(target));
    member.kind = Kind::HardLink;
    return member;
}

TarMember TarMember::fifo(std::string name) {
    TarMember member;
    member.name = std::move(name);
    member.kind = Kind::Fifo;
    return member;
}

TarMember TarMember::char_device(std::string name) {
    TarMember member = fifo(std::move(name));
    member.kind = Kind::CharDevice;
    return member;
}

TarMember TarMember::directory(std::string name) {
    TarMember member = fifo(std::move(name));
    member.kind = Kind::Directory;
    return member;
}

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
