// SPDX-License-Identifier: GPL-2.0
/*
 * A target module with six functions for packages of several patches:
 * /proc/lkp_slots shows what each lkp_slot<n>() says, a line each ("slot<n>
 * original"), so each patch of a package is visible on its own line. Each
 * says something else, so that no two are folded into one.
 */
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/proc_fs.h>
#include <linux/seq_file.h>

noinline const char *lkp_slot1(void)
{
	return "slot1 original";
}

noinline const char *lkp_slot2(void)
{
	return "slot2 original";
}

noinline const char *lkp_slot3(void)
{
	return "slot3 original";
}

noinline const char *lkp_slot4(void)
{
	return "slot4 original";
}

noinline const char *lkp_slot5(void)
{
	return "slot5 original";
}

noinline const char *lkp_slot6(void)
{
	return "slot6 original";
}

static int slots_show(struct seq_file *m, void *v)
{
	seq_printf(m, "%s\n%s\n%s\n%s\n%s\n%s\n", lkp_slot1(),
		   lkp_slot2(), lkp_slot3(), lkp_slot4(), lkp_slot5(),
		   lkp_slot6());
	return 0;
}

static struct proc_dir_entry *slots_entry;

static int __init lkp_slots_init(void)
{
	slots_entry = proc_create_single("lkp_slots", 0444, NULL, slots_show);
	return slots_entry ? 0 : -ENOMEM;
}

static void __exit lkp_slots_exit(void)
{
	proc_remove(slots_entry);
}

module_init(lkp_slots_init);
module_exit(lkp_slots_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("libtesvar test target module with six slots");
