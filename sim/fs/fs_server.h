// The file server of the kernel files: a FUSE file system served by a forked
// child process (a server thread would deadlock under valgrind), mounted at
// FS_MOUNT_DIR. The kernel caches only nodes that never change while they
// exist (is_stable) and symbolic link bodies; every other lookup, attribute
// and read reaches the server, and each open's write is judged at its close.
#ifndef LKPSIM_FS_SERVER_H
#define LKPSIM_FS_SERVER_H

#include <string>

namespace lkpsim {

// Forks the server and waits until its file system is mounted. The server
// dies with the calling thread. False with a reason when that fails.
bool start_file_server(std::string *error);

}  // namespace lkpsim

#endif
