// Keeping the store's files before a change, and writing them back.
#include "store_undo.h"

#include <utility>

#include "order_file.h"
#include "store_names.h"

namespace lkpctl {
namespace {

std::string joined(const std::vector<std::string> &parts) {
    std::string text;
    for (const std::string &part : parts) {
        if (!part.empty()) {
            text += (text.empty() ? "" : "; ") + part;
        }
    }
    return text;
}

std::string listing(const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text.empty() ? "(none)" : text;
}

}  // namespace

StoreBefore::StoreBefore(std::shared_ptr<const StoreDir> store,
                         const std::vector<std::string> &names)
    : store_(std::move(store)) {
    const auto keep = [this](const std::string &name) {
        Kept kept;
        kept.name = name;
        kept.readable = store_->read(name, &kept.bytes, &kept.missing).ok();
        return kept;
    };
    order_ = keep(ORDER_FILE);
    for (const std::string &name : names) {
        packages_.push_back(keep(name));
    }
}

std::string StoreBefore::put_back_packages(bool remove_new) const {
    std::vector<std::string> parts;
    for (const Kept &kept : packages_) {
        StepResult step;
        std::string done;
        if (!kept.readable) {
            parts.push_back("could not put back " + kept.name + ": it could not be read before");
            continue;
        }
        if (kept.missing && !remove_new) {
            continue;  // there was no file to put back
        }
        if (kept.missing) {
            step = store_->remove(kept.name);
            done = kept.name + " removed";
        } else {
            step = store_->write_atomically(kept.name, kept.bytes);
            done = kept.name + (remove_new ? " put back as it was" : " put back");
        }
        parts.push_back(step.ok() ? done : "could not put back " + kept.name + ": " + step.detail);
    }
    return joined(parts);
}

std::string StoreBefore::put_back_order() const {
    if (!order_.readable) {
        return "could not put back the order file: it could not be read before";
    }
    const StepResult step = order_.missing ? store_->remove(ORDER_FILE)
                                           : store_->write_atomically(ORDER_FILE, order_.bytes);
    if (!step.ok()) {
        return "could not put back the order file: " + step.detail;
    }
    return "boot order as before: " + listing(parse_order(order_.bytes).names);
}

std::string StoreBefore::undo_install() const {
    // The order file first: once it no longer names a new package, boot
    // ignores that package's file.
    const std::string order = put_back_order();
    if (order.rfind("could not", 0) == 0) {
        return order + "; the packages stay";
    }
    const std::string packages = put_back_packages(true);
    (void)store_->sync();
    return joined({order, packages});
}

std::string StoreBefore::undo_uninstall() const {
    // The package files first: the order file names them again only once
    // they are back.
    const std::string packages = put_back_packages(false);
    const std::string order = put_back_order();
    (void)store_->sync();
    return joined({packages, order});
}

}  // namespace lkpctl
