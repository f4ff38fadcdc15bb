// The intrusive patch list and its heap-owned head.
#include "kernel/patch_list.h"

#include <cstdlib>

#include "frame/bounded.h"
#include "sys/owned.h"
#include "sys/text_buffer.h"

namespace tesvar {

void INIT_LIST_HEAD(list_head *head) {
    head->next = head;
    head->prev = head;
}

void list_add_tail(list_head *links, list_head *head) {
    list_head *last = head->prev;
    links->next = head;
    links->prev = last;
    last->next = links;
    head->prev = links;
}

patch_node *create_patch_node(const char *patch_name) {
    if (patch_name == nullptr) {
        return nullptr;
    }
    HeapPtr<patch_node> node(static_cast<patch_node *>(std::malloc(sizeof(patch_node))));
    if (!node) {
        return nullptr;
    }
    // An empty or over-long name is refused: the print reports 0 or -1.
    const int written = snprintf_s(node->patch_name, NAME_SIZE, NAME_SIZE - 1, "%s", patch_name);
    if (!is_whole_text(written, NAME_SIZE)) {
        return nullptr;
    }
    node->word = PatchWord::Other;
    return node.release();
}

void del_patch_list(list_head *head) {
    while (!list_empty(head)) {
        list_head *last = head->prev;
        last->prev->next = head;
        head->prev = last->prev;
        std::free(node_of(last));
    }
}

PatchList::PatchList() noexcept : head_(static_cast<list_head *>(std::malloc(sizeof(list_head)))) {
    if (head_ != nullptr) {
        INIT_LIST_HEAD(head_);
    }
}

PatchList::~PatchList() {
    if (head_ != nullptr) {
        del_patch_list(head_);
        std::free(head_);
    }
}

}  // namespace tesvar
