// SPDX-License-Identifier: GPL-2.0
/* Test live patch: replaces lkp_target_answer() of lkp_target. */
#include <linux/kernel.h>
#include <linux/livepatch.h>
#include <linux/module.h>
#include <linux/seq_file.h>

static const char *patched_answer(void)
{
	return "lkp_target fixed";
}

static struct klp_func funcs[] = {
	{ .old_name = "lkp_target_answer", .new_func = patched_answer },
	{}
};

static struct klp_object objs[] = {
	{ .name = "lkp_target", .funcs = funcs },
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
