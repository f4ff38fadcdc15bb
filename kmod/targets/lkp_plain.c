// SPDX-License-Identifier: GPL-2.0
/* A module that does nothing: a unit that inserts and removes cleanly. */
#include <linux/module.h>

static int __init lkp_plain_init(void)
{
	return 0;
}

static void __exit lkp_plain_exit(void)
{
}

module_init(lkp_plain_init);
module_exit(lkp_plain_exit);
MODULE_LICENSE("GPL");
