// SPDX-License-Identifier: GPL-2.0
/* Test live patch: replaces lkp_slot5() of lkp_slots. */
#define LKP_SLOT 5
#include "lkp_slot_fix.h"
