// SPDX-License-Identifier: GPL-2.0
/* Test live patch: replaces lkp_target_answer() of lkp_target. */
#include <linux/seq_file.h>

#include "lkp_patch.h"

static const char *patched_answer(void)
{
	return "lkp_target fixed";
}

LKP_PATCH_ONE("lkp_target", "lkp_target_answer", patched_answer);
