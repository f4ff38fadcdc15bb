// Texts of the control file, the state file and the enabled switches.
#include "kernel_files.h"

#include <cerrno>

#include "history.h"
#include "kernel_state.h"
#include "module_table.h"
#include "names.h"
#include "records.h"
#include "transitions.h"

namespace lkpsim {

namespace {

std::string raw(const RawText &text) {
    return {text.text, text.length.get()};
}

int judge_switch(Kernel *kernel, std::string_view patch, std::string_view value) {
    if (take_fault(&kernel->enable_fault, patch)) {
        return kernel->enable_fault.error.get();
    }
    if (value != "1" && value != "0") {
        return EINVAL;
    }
    Module *module = find_module(kernel, patch);
    if (module == nullptr || !has_livepatch_dir(*module)) {
        return ENODEV;
    }
    const int target = value == "1" ? 1 : 0;
    const int refusal = transition_refusal(kernel, patch, target);
    if (refusal != 0) {
        return refusal;
    }
    // Upstream, outside its own transition a patch takes only "0", and only
    // while enabled: a disabled patch is never enabled again.
    if (kernel->enable_on_insert != 0 && patch_in_transition(kernel) != patch &&
        (target == 1 || !is_upstream_enabled(*kernel, *module))) {
        return EINVAL;
    }
    set_record_state(kernel, patch, target == 1 ? "enabled" : "disabled");
    // Upstream, disabling is final: the patch is freed and its directory
    // goes when its transition ends.
    return start_transition(kernel, patch, target);
}

// A registered patch's word is its record's; a module not registered shows
// its switch.
std::string state_word(const Kernel &kernel, const Module &module) {
    for (std::size_t i = 0; i < kernel.record_count.get(); ++i) {
        const Record &record = kernel.records[i];
        if (name_is(record.patch, name_of(module.name))) {
            return std::string(name_of(record.state));
        }
    }
    const bool enabled = kernel.enable_on_insert != 0 && is_upstream_enabled(kernel, module);
    return enabled ? "enabled" : "disabled";
}

}  // namespace

std::string control_text(const Kernel &kernel) {
    if (kernel.raw_control.set != 0) {
        return raw(kernel.raw_control);
    }
    std::string text;
    for (std::size_t i = 0; i < kernel.record_count.get(); ++i) {
        text += record_line(kernel.records[i]) + "\n";
    }
    return text;
}

std::string state_text(const Kernel &kernel) {
    if (kernel.raw_state.set != 0) {
        return raw(kernel.raw_state);
    }
    // A line per live patch module in the kernel, in insertion order, as the
    // real kernel's file has it: a record whose module was taken out has no
    // line, and a module not (yet) registered has one.
    std::string text = "livepatch state\nnum\tpatch\tstate\n";
    std::size_t lines = 0;
    for (std::size_t i = 0; i < kernel.module_count.get(); ++i) {
        const Module &module = kernel.modules[i];
        if (module.livepatch != 0) {
            text += std::to_string(++lines) + "\t" + std::string(name_of(module.name)) + "\t" +
                    state_word(kernel, module) + "\n";
        }
    }
    return text + "end\n";
}

std::string enabled_text(Kernel *kernel, std::string_view patch) {
    // Upstream, the switch is the module's own, registered or not.
    const Module *module = find_module(kernel, patch);
    // During a transition, the switch shows where it heads.
    if (patch_in_transition(kernel) == patch) {
        return kernel->transition.target != 0 ? "1\n" : "0\n";
    }
    if (kernel->enable_on_insert != 0 && module != nullptr) {
        return is_upstream_enabled(*kernel, *module) ? "1\n" : "0\n";
    }
    const Record *record = find_patch_record(kernel, patch);
    return record != nullptr && name_is(record->state, "enabled") ? "1\n" : "0\n";
}

int judge_enable_text(Kernel *kernel, std::string_view patch, std::string_view text) {
    const std::string_view value = without_newline(text);
    const int error = judge_switch(kernel, patch, value);
    append_history(kernel, (error == 0 ? "enable " : "enable! ") + std::string(patch) + " " +
                               as_written(text));
    return error;
}

}  // namespace lkpsim
