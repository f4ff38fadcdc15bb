// The public header compiles as C++ too: its declarations carry C linkage.
#include "tesvar.h"

#include <cstring>

int main() {
    const char *text = navo_lkp_strerror(-272);
    return std::strcmp(text, "There are no patches in dir specified by argument dir.") == 0 ? 0 : 1;
}
