// SPDX-License-Identifier: GPL-2.0
/*
 * A unit whose init fails with -ENOPKG, the answer the library expects for a
 * patch whose target module is missing (upstream defers such a patch
 * instead, so this is how the failure is produced on a real kernel).
 */
#include <linux/errno.h>
#include <linux/module.h>

static int __init lkp_nopkg_init(void)
{
	return -ENOPKG;
}

module_init(lkp_nopkg_init);
MODULE_LICENSE("GPL");
