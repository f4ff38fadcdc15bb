// The heap buffer for a path or formatted text, and the test that a bounded
// print filled it with a whole, non-empty text.
#ifndef TESVAR_SYS_TEXT_BUFFER_H
#define TESVAR_SYS_TEXT_BUFFER_H

#include <cstdlib>

#include "sys/file_access.h"
#include "sys/owned.h"

namespace tesvar {

// PATH_BUFFER_SIZE bytes from malloc, or null when memory is short.
inline HeapText new_text_buffer() noexcept {
    return HeapText(static_cast<char *>(std::malloc(PATH_BUFFER_SIZE)));
}

// True when a bounded print into a capacity-byte buffer wrote 1 to
// capacity - 1 characters; empty, cut or failed texts are all rejected.
constexpr bool is_whole_text(int written, int capacity) noexcept {
    return written >= 1 && written < capacity;
}

}  // namespace tesvar

#endif
