// SPDX-License-Identifier: GPL-2.0
/* Test live patch: replaces version_proc_show() of vmlinux. */
#include <linux/kernel.h>
#include <linux/livepatch.h>
#include <linux/module.h>
#include <linux/seq_file.h>

static int patched_show(struct seq_file *m, void *v)
{
	seq_puts(m, "lkp_version patched\n");
	return 0;
}

static struct klp_func funcs[] = {
	{ .old_name = "version_proc_show", .new_func = patched_show },
	{}
};

static struct klp_object objs[] = {
	{ .name = NULL, .funcs = funcs },
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
