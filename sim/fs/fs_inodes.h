// Inode numbers of the file server: one per path ever shown, never reused,
// so a file that goes and comes back keeps its number.
#ifndef LKPSIM_FS_INODES_H
#define LKPSIM_FS_INODES_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace lkpsim {

class InodeTable {
public:
    static constexpr std::uint64_t ROOT = 1;

    InodeTable();
    // The number of `path`, made on first use.
    std::uint64_t number_of(const std::string &path);
    // The path of a number; false for a number never made.
    bool path_of(std::uint64_t number, std::string *path) const;
    // The path of `name` inside the directory `parent` ("" is the root).
    static std::string child_path(const std::string &parent, const std::string &name);

private:
    std::vector<std::string> paths_;  // index: number - 1
    std::unordered_map<std::string, std::uint64_t> numbers_;
};

}  // namespace lkpsim

#endif
