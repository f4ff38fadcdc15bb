// The file server's FUSE operations: lookups and attributes from the tree
// of fs_nodes, reads and writes through OpenFile.
#include "fs_ops.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fs_nodes.h"
#include "fs_state.h"

namespace lkpsim {

namespace {

constexpr double STABLE_TIMEOUT = 60.0;  // seconds; everything else is not cached

FsState &state(fuse_req_t req) {
    return *static_cast<FsState *>(fuse_req_userdata(req));
}

InodeTable &inodes(fuse_req_t req) {
    return state(req).inodes;
}

bool node_at(fuse_req_t req, fuse_ino_t number, Node *node, std::string *path) {
    return inodes(req).path_of(number, path) && resolve_node(*path, node);
}

struct stat attributes_of(fuse_ino_t number, const Node &node) {
    static const time_t started = time(nullptr);
    struct stat attributes {};
    attributes.st_ino = number;
    attributes.st_mode = mode_of(node.kind);
    attributes.st_nlink = is_directory(node.kind) ? 2 : 1;
    attributes.st_size =
        node.kind == NodeKind::ProcEntry ? static_cast<off_t>(node.link.size()) : 0;
    attributes.st_blksize = 4096;
    attributes.st_atime = attributes.st_mtime = attributes.st_ctime = started;
    return attributes;
}

double timeout_of(const Node &node) {
    return is_stable(node.kind) ? STABLE_TIMEOUT : 0.0;
}

// The kernel only sends handles it was given and not yet released.
OpenFile &open_file(fuse_req_t req, const fuse_file_info *info) {
    return *state(req).files.get(info->fh);
}

void on_init(void * /*userdata*/, fuse_conn_info *connection) {
    // fopen("w") then needs no separate truncation; symlink bodies never change.
    connection->want |= connection->capable & (FUSE_CAP_ATOMIC_O_TRUNC | FUSE_CAP_CACHE_SYMLINKS);
}

void on_lookup(fuse_req_t req, fuse_ino_t parent, const char *name) {
    std::string parent_path;
    Node node;
    if (!inodes(req).path_of(parent, &parent_path)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    const std::string path = InodeTable::child_path(parent_path, name);
    if (!resolve_node(path, &node)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    fuse_entry_param entry{};
    entry.ino = inodes(req).number_of(path);
    entry.generation = 1;
    entry.attr = attributes_of(entry.ino, node);
    entry.attr_timeout = entry.entry_timeout = timeout_of(node);
    fuse_reply_entry(req, &entry);
}

void on_forget(fuse_req_t req, fuse_ino_t /*number*/, uint64_t /*count*/) {
    fuse_reply_none(req);
}

void on_forget_multi(fuse_req_t req, size_t /*count*/, fuse_forget_data * /*forgets*/) {
    fuse_reply_none(req);
}

void reply_attr(fuse_req_t req, fuse_ino_t number, const Node &node) {
    const struct stat attributes = attributes_of(number, node);
    fuse_reply_attr(req, &attributes, timeout_of(node));
}

void on_getattr(fuse_req_t req, fuse_ino_t number, fuse_file_info * /*info*/) {
    Node node;
    std::string path;
    if (!node_at(req, number, &node, &path)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    reply_attr(req, number, node);
}

// Truncation of a kernel file is accepted and changes nothing.
void on_setattr(fuse_req_t req, fuse_ino_t number, struct stat * /*wanted*/, int to_set,
                fuse_file_info * /*info*/) {
    Node node;
    std::string path;
    if (!node_at(req, number, &node, &path)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    if ((to_set & ~FUSE_SET_ATTR_SIZE) != 0 || is_directory(node.kind)) {
        fuse_reply_err(req, EPERM);
        return;
    }
    reply_attr(req, number, node);
}

void on_readlink(fuse_req_t req, fuse_ino_t number) {
    Node node;
    std::string path;
    if (!node_at(req, number, &node, &path)) {
        fuse_reply_err(req, ENOENT);
    } else if (node.kind != NodeKind::ProcEntry) {
        fuse_reply_err(req, EINVAL);
    } else {
        fuse_reply_readlink(req, node.link.c_str());
    }
}

void on_open(fuse_req_t req, fuse_ino_t number, fuse_file_info *info) {
    Node node;
    std::string path;
    int error = ENOENT;
    std::unique_ptr<OpenFile> file;
    if (node_at(req, number, &node, &path)) {
        file = OpenFile::open(node, info->flags, &error);
    }
    if (!file) {
        fuse_reply_err(req, error);
        return;
    }
    info->fh = state(req).files.add(std::move(file));
    info->direct_io = 1;
    info->keep_cache = 0;
    if (fuse_reply_open(req, info) != 0) {
        state(req).files.remove(info->fh);
    }
}

void on_read(fuse_req_t req, fuse_ino_t /*number*/, size_t size, off_t offset,
             fuse_file_info *info) {
    const std::string_view data = open_file(req, info).read(size, offset);
    fuse_reply_buf(req, data.data(), data.size());
}

void on_write(fuse_req_t req, fuse_ino_t /*number*/, const char *data, size_t size,
              off_t /*offset*/, fuse_file_info *info) {
    const int error = open_file(req, info).write(data, size);
    if (error != 0) {
        fuse_reply_err(req, error);
    } else {
        fuse_reply_write(req, size);
    }
}

void on_flush(fuse_req_t req, fuse_ino_t /*number*/, fuse_file_info *info) {
    fuse_reply_err(req, open_file(req, info).finish());
}

void on_release(fuse_req_t req, fuse_ino_t /*number*/, fuse_file_info *info) {
    open_file(req, info).finish();  // nobody is left to hear the answer
    state(req).files.remove(info->fh);
    fuse_reply_err(req, 0);
}

void on_create(fuse_req_t req, fuse_ino_t /*parent*/, const char * /*name*/, mode_t /*mode*/,
               fuse_file_info * /*info*/) {
    fuse_reply_err(req, EACCES);  // the kernel files exist or they do not
}

std::unique_ptr<DirListing> listing_of(fuse_req_t req, fuse_ino_t number, const std::string &path,
                                       const Node &node) {
    auto listing = std::make_unique<DirListing>();
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
    listing->push_back({".", number, S_IFDIR});
    listing->push_back({"..", inodes(req).number_of(parent), S_IFDIR});
    for (const auto &[name, kind] : list_node(node)) {
        const std::string child = InodeTable::child_path(path, name);
        listing->push_back({name, inodes(req).number_of(child), mode_of(kind)});
    }
    return listing;
}

void on_opendir(fuse_req_t req, fuse_ino_t number, fuse_file_info *info) {
    Node node;
    std::string path;
    if (!node_at(req, number, &node, &path)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    if (!is_directory(node.kind)) {
        fuse_reply_err(req, ENOTDIR);
        return;
    }
    info->fh = state(req).listings.add(listing_of(req, number, path, node));
    if (fuse_reply_open(req, info) != 0) {
        state(req).listings.remove(info->fh);
    }
}

void on_readdir(fuse_req_t req, fuse_ino_t /*number*/, size_t size, off_t offset,
                fuse_file_info *info) {
    const DirListing &listing = *state(req).listings.get(info->fh);
    std::vector<char> buffer(size);
    size_t used = 0;
    for (auto index = static_cast<size_t>(offset); index < listing.size(); ++index) {
        struct stat attributes {};
        attributes.st_ino = listing[index].number;
        attributes.st_mode = listing[index].mode;
        const size_t length =
            fuse_add_direntry(req, buffer.data() + used, size - used, listing[index].name.c_str(),
                              &attributes, static_cast<off_t>(index + 1));
        if (length > size - used) {
            break;
        }
        used += length;
    }
    fuse_reply_buf(req, buffer.data(), used);
}

void on_releasedir(fuse_req_t req, fuse_ino_t /*number*/, fuse_file_info *info) {
    state(req).listings.remove(info->fh);
    fuse_reply_err(req, 0);
}

fuse_lowlevel_ops make_operations() {
    fuse_lowlevel_ops operations{};
    operations.init = on_init;
    operations.lookup = on_lookup;
    operations.forget = on_forget;
    operations.forget_multi = on_forget_multi;
    operations.getattr = on_getattr;
    operations.setattr = on_setattr;
    operations.readlink = on_readlink;
    operations.open = on_open;
    operations.read = on_read;
    operations.write = on_write;
    operations.flush = on_flush;
    operations.release = on_release;
    operations.create = on_create;
    operations.opendir = on_opendir;
    operations.readdir = on_readdir;
    operations.releasedir = on_releasedir;
    return operations;
}

}  // namespace

const fuse_lowlevel_ops &fs_operations() {
    static const fuse_lowlevel_ops operations = make_operations();
    return operations;
}

}  // namespace lkpsim
