// Session set-up of the file server.
#include "fs_session.h"

#include "fs_ops.h"

namespace lkpsim {

FsSession::~FsSession() {
    if (mounted_) {
        fuse_session_unmount(session_);
    }
    if (session_ != nullptr) {
        fuse_session_destroy(session_);
    }
}

bool FsSession::mount(const char *dir) {
    char program[] = "lkpsim-fs";
    char option[] = "-o";
    char options[] = "fsname=lkpsim,subtype=lkpsim";
    char *argv[] = {program, option, options, nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, argv);
    session_ = fuse_session_new(&args, &fs_operations(), sizeof(fuse_lowlevel_ops), &state_);
    fuse_opt_free_args(&args);
    if (session_ == nullptr) {
        return false;
    }
    mounted_ = fuse_session_mount(session_, dir) == 0;
    return mounted_;
}

void FsSession::serve() {
    fuse_session_loop(session_);
}

}  // namespace lkpsim
