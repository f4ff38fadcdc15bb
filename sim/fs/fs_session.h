// One FUSE session of the file server: mounted, served on the calling
// thread, unmounted and destroyed by the owner.
#ifndef LKPSIM_FS_SESSION_H
#define LKPSIM_FS_SESSION_H

#include "fs_state.h"

struct fuse_session;

namespace lkpsim {

class FsSession {
public:
    FsSession() = default;
    ~FsSession();
    FsSession(const FsSession &) = delete;
    FsSession &operator=(const FsSession &) = delete;

    // Creates the session and mounts it on `dir`; false on failure.
    bool mount(const char *dir);
    // Serves requests until the file system is unmounted.
    void serve();

private:
    fuse_session *session_ = nullptr;
    bool mounted_ = false;
    FsState state_;
};

}  // namespace lkpsim

#endif
