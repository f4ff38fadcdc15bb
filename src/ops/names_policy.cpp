// Names the control file can carry unchanged.
#include "ops/names_policy.h"

#include <cstring>

namespace tesvar {

bool is_record_safe(const char *name) {
    // A comma would split the record; a blank, TAB or newline would cut it.
    return name != nullptr && std::strpbrk(name, ", \t\n") == nullptr;
}

}  // namespace tesvar
