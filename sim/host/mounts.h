// Mount and directory helpers of the namespace set-up. Each returns false and
// describes the failure in `error` ("mount tmpfs on /run: Operation not
// permitted").
#ifndef LKPSIM_MOUNTS_H
#define LKPSIM_MOUNTS_H

#include <set>
#include <string>

namespace lkpsim {

bool mount_tmpfs(const std::string &target, const char *mode, std::string *error);
// Binds `source` (with everything mounted below it) onto `target`.
bool bind_tree(const std::string &source, const std::string &target, std::string *error);
bool make_private_root(std::string *error);
// Makes `path` and its missing parents.
bool make_dirs(const std::string &path, std::string *error);
// Fills the empty directory `dir` with one symbolic link per entry of
// `real_dir`: a link to that entry, or a copy of it when it is a link itself.
bool link_entries(const std::string &real_dir, const std::string &dir,
                  const std::set<std::string> &skip, std::string *error);

}  // namespace lkpsim

#endif
