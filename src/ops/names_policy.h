// Names the control file can carry: its records split on commas, cut fields
// at the first blank and hold at most 63 characters per name.
#ifndef TESVAR_OPS_NAMES_POLICY_H
#define TESVAR_OPS_NAMES_POLICY_H

namespace tesvar {

// True if name has no comma, blank, TAB or newline.
bool is_record_safe(const char *name);

}  // namespace tesvar

#endif
