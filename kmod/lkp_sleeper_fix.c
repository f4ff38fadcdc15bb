// SPDX-License-Identifier: GPL-2.0
/*
 * Test live patch: replaces lkp_sleeper_hold() of lkp_sleeper, inside which
 * that module's thread sleeps, so the transition waits for the thread.
 */
#include <linux/delay.h>
#include <linux/kernel.h>
#include <linux/livepatch.h>
#include <linux/module.h>

/* Only reached while "hold" is 1: a short sleep instead of the wait. */
static void patched_hold(void)
{
	msleep_interruptible(20);
}

static struct klp_func funcs[] = {
	{ .old_name = "lkp_sleeper_hold", .new_func = patched_hold },
	{}
};

static struct klp_object objs[] = {
	{ .name = "lkp_sleeper", .funcs = funcs },
	{}
};

static struct klp_patch patch = {
	.mod = THIS_MODULE,
	.objs = objs,
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
