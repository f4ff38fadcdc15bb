// Switching a loaded package's patches on and off as a whole.
#ifndef TESVAR_OPS_ENABLE_H
#define TESVAR_OPS_ENABLE_H

namespace tesvar {

// mode 1 enables every patch (first to last), any other mode disables them
// (last to first). A result code.
int lkp_enable(const char *pkg_name, int mode);

}  // namespace tesvar

#endif
