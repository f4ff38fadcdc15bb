// An open kernel file of the file server: what a read sees (the file's text
// at the open) and what was written, judged by the kernel side at the close.
#ifndef LKPSIM_FS_OPEN_FILE_H
#define LKPSIM_FS_OPEN_FILE_H

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "fs_nodes.h"

namespace lkpsim {

class OpenFile {
public:
    // Opens the file at `node` with open(2) `flags`; null with the errno set
    // in `error` when that is refused.
    static std::unique_ptr<OpenFile> open(const Node &node, int flags, int *error);

    std::string_view read(std::size_t size, off_t offset) const;
    // 0, or the errno for a write beyond what one op can be.
    int write(const char *data, std::size_t size);
    // Hands what was written since the last call to the kernel side: 0 when
    // accepted (or nothing was written), else the errno for the close.
    int finish();

private:
    explicit OpenFile(const Node &node) : node_(node) {}

    Node node_;
    std::string content_;
    std::string written_;
    bool pending_ = false;
};

}  // namespace lkpsim

#endif
