// The module table of the shared kernel block.
#include "module_table.h"

#include <cerrno>
#include <cstring>

#include "kernel_state.h"
#include "lkpsim/module_image.h"

namespace lkpsim {

namespace {

bool fill_module(Module *module, std::string_view name, const std::vector<std::string> &targets,
                 bool livepatch) {
    std::memset(module, 0, sizeof(*module));
    if (!set_name(&module->name, name) || targets.size() > MAX_MODULE_TARGETS) {
        return false;
    }
    for (const std::string &target : targets) {
        if (!set_name(&module->targets[module->target_count.add(1)], target)) {
            return false;
        }
    }
    module->livepatch = livepatch ? 1 : 0;
    return true;
}

int missing_target(Kernel *kernel, const ModuleInfo &info) {
    for (const std::string &target : info.targets) {
        if (!target_loaded(kernel, target)) {
            return ENOPKG;
        }
    }
    return 0;
}

}  // namespace

Module *find_module(Kernel *kernel, std::string_view name) {
    for (std::size_t i = 0; i < kernel->module_count.get(); ++i) {
        if (name_is(kernel->modules[i].name, name)) {
            return &kernel->modules[i];
        }
    }
    return nullptr;
}

bool manager_loaded(Kernel *kernel) {
    return find_module(kernel, MANAGER_MODULE) != nullptr;
}

bool target_loaded(Kernel *kernel, std::string_view name) {
    for (std::size_t i = 0; i < kernel->loaded_target_count.get(); ++i) {
        if (name_is(kernel->loaded_targets[i], name)) {
            return true;
        }
    }
    const Module *module = find_module(kernel, name);
    return module != nullptr && module->livepatch == 0;
}

void set_target(Kernel *kernel, std::string_view name, bool loaded) {
    for (std::size_t i = 0; i < kernel->loaded_target_count.get(); ++i) {
        if (name_is(kernel->loaded_targets[i], name)) {
            if (!loaded) {
                kernel->loaded_target_count.add(-1);
                kernel->loaded_targets[i] =
                    kernel->loaded_targets[kernel->loaded_target_count.get()];
            }
            return;
        }
    }
    if (loaded && kernel->loaded_target_count.get() < MAX_LOADED_TARGETS &&
        set_name(&kernel->loaded_targets[kernel->loaded_target_count.get()], name)) {
        kernel->loaded_target_count.add(1);
    }
}

int insert_module(Kernel *kernel, const ModuleInfo &info) {
    if (find_module(kernel, info.name) != nullptr) {
        return EEXIST;
    }
    const bool manager = info.name == MANAGER_MODULE;
    if (manager && kernel->manager_refused != 0) {
        return EPERM;
    }
    if (!manager && info.livepatch) {
        if (const int error = missing_target(kernel, info); error != 0) {
            return error;
        }
    }
    if (!force_insert(kernel, info.name, manager ? std::vector<std::string>{} : info.targets,
                      info.livepatch && !manager)) {
        return kernel->module_count.get() >= MAX_MODULES ? ENOMEM : ENOEXEC;
    }
    return 0;
}

bool force_insert(Kernel *kernel, std::string_view name, const std::vector<std::string> &targets,
                  bool livepatch) {
    if (kernel->module_count.get() >= MAX_MODULES) {
        return false;
    }
    if (!fill_module(&kernel->modules[kernel->module_count.get()], name, targets, livepatch)) {
        return false;
    }
    kernel->module_count.add(1);
    return true;
}

bool remove_module(Kernel *kernel, std::string_view name) {
    Module *module = find_module(kernel, name);
    if (module == nullptr) {
        return false;
    }
    const std::size_t index = static_cast<std::size_t>(module - kernel->modules);
    std::memmove(module, module + 1, (kernel->module_count.get() - index - 1) * sizeof(Module));
    kernel->module_count.add(-1);
    return true;
}

bool has_livepatch_dir(const Module &module) {
    return module.livepatch != 0 && module.hidden == 0 && !name_is(module.name, MANAGER_MODULE);
}

bool is_upstream_enabled(const Kernel &kernel, const Module &module) {
    return kernel.enable_on_insert != 0 && has_livepatch_dir(module);
}

}  // namespace lkpsim
