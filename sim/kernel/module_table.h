// The simulated kernel's module table and the target modules that patches
// can patch. Callers hold the kernel lock.
#ifndef LKPSIM_MODULE_TABLE_H
#define LKPSIM_MODULE_TABLE_H

#include <string>
#include <string_view>
#include <vector>

#include "kernel_layout.h"

namespace lkpsim {

// The patch manager's module name: inserting it makes the control file appear.
constexpr const char *MANAGER_MODULE = "tesvar";

struct ModuleInfo;

Module *find_module(Kernel *kernel, std::string_view name);
bool manager_loaded(Kernel *kernel);
// A target is loaded when it is one of the loaded targets or an inserted
// plain (not live-patching) module.
bool target_loaded(Kernel *kernel, std::string_view name);
void set_target(Kernel *kernel, std::string_view name, bool loaded);

// What init_module decides for a readable image: 0 (inserted) or the errno.
int insert_module(Kernel *kernel, const ModuleInfo &info);
// Inserts without any check (scene arrangement); false when it does not fit.
bool force_insert(Kernel *kernel, std::string_view name, const std::vector<std::string> &targets,
                  bool livepatch);
// False when no such module is inserted.
bool remove_module(Kernel *kernel, std::string_view name);

// True when the module shows a directory under /sys/kernel/livepatch.
bool has_livepatch_dir(const Module &module);

// In the upstream model (Kernel::enable_on_insert): a live patch is enabled
// from its insertion until it is disabled, which also removes its directory.
bool is_upstream_enabled(const Kernel &kernel, const Module &module);

}  // namespace lkpsim

#endif
