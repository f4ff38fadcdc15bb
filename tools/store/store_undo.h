// Taking back an install or uninstall that an operator cancelled (Ctrl-C,
// SIGTERM, SIGHUP) after it had changed the store: before the change, the
// order file and the package files it will touch are kept in memory; the
// undo writes them back (or removes the files the change created), each
// step atomic, and says what it did.
#ifndef LKPCTL_STORE_UNDO_H
#define LKPCTL_STORE_UNDO_H

#include <memory>
#include <string>
#include <vector>

#include "store_dir.h"

namespace lkpctl {

// The store's files a change will touch, as they were before it.
class StoreBefore {
public:
    // Keeps the order file and each package file of names as they are now.
    // A file that cannot be read is noted: the undo then says it could not
    // put it back.
    StoreBefore(std::shared_ptr<const StoreDir> store, const std::vector<std::string> &names);

    // Undoes an install of the packages: the order file as it was, each
    // package that was new removed, each that was replaced put back.
    std::string undo_install() const;
    // Undoes an uninstall: each package file put back, then the order file.
    std::string undo_uninstall() const;

private:
    struct Kept {
        std::string name;
        bool missing = false;  // the store had no such file
        bool readable = true;  // false: its bytes could not be kept
        std::string bytes;
    };

    std::string put_back_packages(bool remove_new) const;
    std::string put_back_order() const;

    std::shared_ptr<const StoreDir> store_;
    Kept order_;
    std::vector<Kept> packages_;
};

}  // namespace lkpctl

#endif
