// The module system calls as the simulated kernel answers them. Each returns
// 0 or the errno the call fails with; outside the namespace (no shared kernel)
// every call fails with ENOSYS and nothing reaches the real kernel.
#ifndef LKPSIM_MODULE_CALLS_H
#define LKPSIM_MODULE_CALLS_H

namespace lkpsim {

int emulate_init_module(const void *image, unsigned long length, const char *parameters);
int emulate_delete_module(const char *name, unsigned long flags);

}  // namespace lkpsim

#endif
