// SPDX-License-Identifier: GPL-2.0
/*
 * A small module that live patches can target: /proc/lkp_target shows what
 * lkp_target_answer() returns, so a patch of that function is visible.
 */
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/proc_fs.h>
#include <linux/seq_file.h>

noinline const char *lkp_target_answer(void)
{
	return "lkp_target original";
}

static int target_show(struct seq_file *m, void *v)
{
	seq_printf(m, "%s\n", lkp_target_answer());
	return 0;
}

static struct proc_dir_entry *target_entry;

static int __init lkp_target_init(void)
{
	target_entry = proc_create_single("lkp_target", 0444, NULL, target_show);
	return target_entry ? 0 : -ENOMEM;
}

static void __exit lkp_target_exit(void)
{
	proc_remove(target_entry);
}

module_init(lkp_target_init);
module_exit(lkp_target_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("libtesvar test target module");
