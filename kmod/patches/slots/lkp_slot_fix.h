/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The body of the slot patches: a module defines LKP_SLOT (1 to 6) and
 * includes this; lkp_slot<LKP_SLOT>() of lkp_slots then says
 * "slot<LKP_SLOT> fixed".
 */
#ifndef LKP_SLOT_FIX_H
#define LKP_SLOT_FIX_H

#include <linux/stringify.h>

#include "../lkp_patch.h"

static const char *patched_slot(void)
{
	return "slot" __stringify(LKP_SLOT) " fixed";
}

LKP_PATCH_ONE("lkp_slots", "lkp_slot" __stringify(LKP_SLOT), patched_slot);

#endif
