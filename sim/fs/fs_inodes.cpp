// The file server's path to inode number table.
#include "fs_inodes.h"

namespace lkpsim {

InodeTable::InodeTable() {
    number_of("");
}

std::uint64_t InodeTable::number_of(const std::string &path) {
    const auto found = numbers_.find(path);
    if (found != numbers_.end()) {
        return found->second;
    }
    paths_.push_back(path);
    const std::uint64_t number = paths_.size();
    numbers_.emplace(path, number);
    return number;
}

bool InodeTable::path_of(std::uint64_t number, std::string *path) const {
    if (number < ROOT || number > paths_.size()) {
        return false;
    }
    *path = paths_[number - 1];
    return true;
}

std::string InodeTable::child_path(const std::string &parent, const std::string &name) {
    return parent.empty() ? name : parent + "/" + name;
}

}  // namespace lkpsim
