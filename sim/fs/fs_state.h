// What the file server keeps between requests: the inode numbers it gave
// out and the files and directory listings that are open.
#ifndef LKPSIM_FS_STATE_H
#define LKPSIM_FS_STATE_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fs_handles.h"
#include "fs_inodes.h"
#include "fs_open_file.h"

namespace lkpsim {

struct DirEntry {
    std::string name;
    std::uint64_t number;
    mode_t mode;
};
using DirListing = std::vector<DirEntry>;

struct FsState {
    InodeTable inodes;
    HandleTable<OpenFile> files;
    HandleTable<DirListing> listings;
};

}  // namespace lkpsim

#endif
