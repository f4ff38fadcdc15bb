// SPDX-License-Identifier: GPL-2.0
/*
 * Test live patch: replaces lkp_sleeper_hold() of lkp_sleeper, inside which
 * that module's thread sleeps, so the transition waits for the thread.
 */
#include <linux/delay.h>

#include "lkp_patch.h"

/* Only reached while "hold" is 1: a short sleep instead of the wait. */
static void patched_hold(void)
{
	msleep_interruptible(20);
}

LKP_PATCH_ONE("lkp_sleeper", "lkp_sleeper_hold", patched_hold);
