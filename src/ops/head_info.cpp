// The keys of a package manifest's four head lines, in order; exported so
// that tools building packages use the same keys.
#include "tesvar.h"

extern "C" TESVAR_API const char *const head_info[TESVAR_HEAD_INFO_SIZE] = {
    "versions:",
    "description:",
    "date:",
    "Units List:",
};
