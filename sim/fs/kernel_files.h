// The texts of the kernel files and the judgement of enable switches.
// Callers hold the kernel lock.
#ifndef LKPSIM_KERNEL_FILES_H
#define LKPSIM_KERNEL_FILES_H

#include <string>
#include <string_view>

#include "kernel_layout.h"

namespace lkpsim {

// /proc/navo_lkp_list: "num,pkg,patch\n" per record, or the raw text.
std::string control_text(const Kernel &kernel);
// /proc/livepatch/state: two head lines, "num\tpatch\tstate\n" per record
// (num is the position, from 1), a trailer line; or the raw text.
std::string state_text(const Kernel &kernel);
// The enabled file of a patch: "1\n" when its state word is "enabled".
std::string enabled_text(Kernel *kernel, std::string_view patch);

// Judges one text written to a patch's enabled file: 0 when accepted, else
// the errno the close fails with. Appends "enable ..." or "enable! ...".
int judge_enable_text(Kernel *kernel, std::string_view patch, std::string_view text);

}  // namespace lkpsim

#endif
