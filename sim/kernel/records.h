// The patch manager's records: what "add" and "rm" lines do to them, and the
// state words that the live-patching side keeps for them. Callers hold the
// kernel lock.
#ifndef LKPSIM_RECORDS_H
#define LKPSIM_RECORDS_H

#include <string>
#include <string_view>

#include "kernel_layout.h"

namespace lkpsim {

// Appends a record with the state word "disabled"; false when it does not fit.
bool add_record(Kernel *kernel, int num, std::string_view pkg, std::string_view patch);
// The record as the control file lists it: "num,pkg,patch".
std::string record_line(const Record &record);
// The first record of the patch, or null.
Record *find_patch_record(Kernel *kernel, std::string_view patch);
// Sets the state word of every record of the patch; false when there is none.
bool set_record_state(Kernel *kernel, std::string_view patch, std::string_view state);

// Judges one text written to the control file (one open): 0 when accepted,
// else the errno the close fails with. Appends "op ..." or "op! ..." to the
// history.
int judge_op_text(Kernel *kernel, std::string_view text);

}  // namespace lkpsim

#endif
