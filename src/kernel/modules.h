// Module insertion and removal through init_module and delete_module, and
// the patch manager module's presence.
#ifndef TESVAR_KERNEL_MODULES_H
#define TESVAR_KERNEL_MODULES_H

namespace tesvar {

constexpr unsigned REMOVAL_FLAGS = 0x880;  // O_NONBLOCK | O_EXCL, never forced
constexpr int ENOPKG_CODE = -65;           // a patch's target module is not loaded

// 1 when the control file exists or "tesvar.ko" has just been inserted, else 0.
int load_tesvar_kcore();

}  // namespace tesvar

#endif
