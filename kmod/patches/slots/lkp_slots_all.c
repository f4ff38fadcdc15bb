// SPDX-License-Identifier: GPL-2.0
/*
 * Test cumulative live patch: replaces all six slot functions of lkp_slots
 * ("slot<n> cumulative") with atomic replace, so enabling it takes over
 * from every live patch enabled before it (the kernel disables and frees
 * those when the transition ends).
 */
#include <linux/kernel.h>
#include <linux/livepatch.h>
#include <linux/module.h>

#define CUMULATIVE_SLOT(n)                                                     \
	static const char *cumulative_slot##n(void)                            \
	{                                                                      \
		return "slot" #n " cumulative";                                \
	}

CUMULATIVE_SLOT(1)
CUMULATIVE_SLOT(2)
CUMULATIVE_SLOT(3)
CUMULATIVE_SLOT(4)
CUMULATIVE_SLOT(5)
CUMULATIVE_SLOT(6)

static struct klp_func funcs[] = {
	{ .old_name = "lkp_slot1", .new_func = cumulative_slot1 },
	{ .old_name = "lkp_slot2", .new_func = cumulative_slot2 },
	{ .old_name = "lkp_slot3", .new_func = cumulative_slot3 },
	{ .old_name = "lkp_slot4", .new_func = cumulative_slot4 },
	{ .old_name = "lkp_slot5", .new_func = cumulative_slot5 },
	{ .old_name = "lkp_slot6", .new_func = cumulative_slot6 },
	{}
};

static struct klp_object objs[] = {
	{ .name = "lkp_slots", .funcs = funcs },
	{}
};

static struct klp_patch patch = {
	.mod = THIS_MODULE,
	.objs = objs,
	.replace = true,
};

static int __init patch_init(void)
{
	return klp_enable_patch(&patch);
}

static void __exit patch_exit(void)
{
}

module_init(patch_init);
module_exit(patch_exit);
MODULE_LICENSE("GPL");
MODULE_INFO(livepatch, "Y");
