// Open handles of the file server: the kernel holds a number, the server
// owns the object, which goes with its release (or with the server).
#ifndef LKPSIM_FS_HANDLES_H
#define LKPSIM_FS_HANDLES_H

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>

namespace lkpsim {

template <typename T>
class HandleTable {
public:
    std::uint64_t add(std::unique_ptr<T> object) {
        const std::uint64_t handle = next_++;
        objects_.emplace(handle, std::move(object));
        return handle;
    }
    // Null for a handle not (or no longer) in the table.
    T *get(std::uint64_t handle) const {
        const auto found = objects_.find(handle);
        return found == objects_.end() ? nullptr : found->second.get();
    }
    void remove(std::uint64_t handle) { objects_.erase(handle); }

private:
    std::uint64_t next_ = 1;
    std::unordered_map<std::uint64_t, std::unique_ptr<T>> objects_;
};

}  // namespace lkpsim

#endif
