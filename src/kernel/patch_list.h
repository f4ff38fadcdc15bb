// The patch list: an intrusive circular doubly linked list of patch nodes
// with a separate head, in the order the patches were appended.
#ifndef TESVAR_KERNEL_PATCH_LIST_H
#define TESVAR_KERNEL_PATCH_LIST_H

#include <cstddef>

#include "kernel/record.h"

namespace tesvar {

struct list_head {
    list_head *next;
    list_head *prev;
};

// What the state file called a patch in the reading that listed it.
enum class PatchWord : unsigned char { Other, Enabled, Disabled };

struct patch_node {
    char patch_name[NAME_SIZE];
    list_head list;
    // Other for lists read from the control file alone.
    PatchWord word;
};

// The node whose links are at `links`.
inline patch_node *node_of(list_head *links) {
    return reinterpret_cast<patch_node *>(reinterpret_cast<char *>(links) -
                                          offsetof(patch_node, list));
}

void INIT_LIST_HEAD(list_head *head);
void list_add_tail(list_head *links, list_head *head);
// A new node holding a copy of name (1 to 63 characters), links unset; or NULL.
patch_node *create_patch_node(const char *patch_name);
// Frees every node, last first; head ends as an empty list.
void del_patch_list(list_head *head);

inline bool list_empty(const list_head *head) {
    return head->next == head;
}

// A heap-allocated list head that frees its nodes and itself on every path.
class PatchList {
public:
    PatchList() noexcept;  // head is NULL when it cannot be allocated
    PatchList(const PatchList &) = delete;
    PatchList &operator=(const PatchList &) = delete;
    ~PatchList();

    list_head *head() const noexcept { return head_; }
    explicit operator bool() const noexcept { return head_ != nullptr; }

private:
    list_head *head_;
};

}  // namespace tesvar

#endif
