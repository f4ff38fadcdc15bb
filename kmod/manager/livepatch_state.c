// SPDX-License-Identifier: GPL-2.0
/*
 * The state file /proc/livepatch/state for an upstream kernel, which has no
 * such file: two head lines, one "num<TAB>patch<TAB>state" line per loaded
 * live patch module, one trailer line.
 *
 * A module notifier notes every live patch module while it is in the kernel
 * (no unexported symbol is needed). Its state word is read from
 * /sys/kernel/livepatch/<name>/enabled: "enabled" for 1, else "disabled" --
 * upstream frees a disabled patch, so a patch module whose sysfs directory
 * is gone is loaded but disabled for good.
 */
#include <linux/fs.h>
#include <linux/kernel.h>
#include <linux/list.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/notifier.h>
#include <linux/proc_fs.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/string.h>

struct lp_module {
	struct list_head list;
	char name[MODULE_NAME_LEN];
};

static LIST_HEAD(lp_modules);
static DEFINE_MUTEX(lp_lock);
static struct proc_dir_entry *lp_dir;

/* Whether the patch's sysfs "enabled" file reads 1. */
static bool patch_enabled(const char *name)
{
	char path[96 + MODULE_NAME_LEN];
	char value[4] = "";
	struct file *f;
	loff_t pos = 0;
	ssize_t len;

	snprintf(path, sizeof(path), "/sys/kernel/livepatch/%s/enabled", name);
	f = filp_open(path, O_RDONLY, 0);
	if (IS_ERR(f))
		return false;
	len = kernel_read(f, value, sizeof(value) - 1, &pos);
	filp_close(f, NULL);
	return len > 0 && value[0] == '1';
}

static int state_show(struct seq_file *m, void *v)
{
	struct lp_module *lp;
	char (*names)[MODULE_NAME_LEN];
	size_t count = 0, i;

	/* Copy the names first: sysfs is read without our lock held. */
	mutex_lock(&lp_lock);
	list_for_each_entry(lp, &lp_modules, list)
		count++;
	names = kcalloc(count ? count : 1, MODULE_NAME_LEN, GFP_KERNEL);
	if (!names) {
		mutex_unlock(&lp_lock);
		return -ENOMEM;
	}
	i = 0;
	list_for_each_entry(lp, &lp_modules, list)
		strscpy(names[i++], lp->name, MODULE_NAME_LEN);
	mutex_unlock(&lp_lock);

	seq_puts(m, "Live patch state\n");
	seq_puts(m, "num\tpatch\tstate\n");
	for (i = 0; i < count; i++)
		seq_printf(m, "%zu\t%s\t%s\n", i + 1, names[i],
			   patch_enabled(names[i]) ? "enabled" : "disabled");
	seq_printf(m, "total %zu\n", count);
	kfree(names);
	return 0;
}

static void note_module(struct module *mod)
{
	struct lp_module *lp = kzalloc(sizeof(*lp), GFP_KERNEL);

	if (!lp)
		return;
	strscpy(lp->name, mod->name, sizeof(lp->name));
	mutex_lock(&lp_lock);
	list_add_tail(&lp->list, &lp_modules);
	mutex_unlock(&lp_lock);
}

static void forget_module(struct module *mod)
{
	struct lp_module *lp, *next;

	mutex_lock(&lp_lock);
	list_for_each_entry_safe(lp, next, &lp_modules, list) {
		if (!strcmp(lp->name, mod->name)) {
			list_del(&lp->list);
			kfree(lp);
		}
	}
	mutex_unlock(&lp_lock);
}

static int module_event(struct notifier_block *nb, unsigned long action, void *data)
{
	struct module *mod = data;

	if (!is_livepatch_module(mod))
		return NOTIFY_DONE;
	/* LIVE, not COMING: a module whose init fails never shows. */
	if (action == MODULE_STATE_LIVE)
		note_module(mod);
	else if (action == MODULE_STATE_GOING)
		forget_module(mod);
	return NOTIFY_DONE;
}

static struct notifier_block module_nb = {
	.notifier_call = module_event,
};

static int __init livepatch_state_init(void)
{
	int ret;

	lp_dir = proc_mkdir("livepatch", NULL);
	if (!lp_dir)
		return -ENOMEM;
	if (!proc_create_single("state", 0444, lp_dir, state_show)) {
		proc_remove(lp_dir);
		return -ENOMEM;
	}
	ret = register_module_notifier(&module_nb);
	if (ret)
		proc_remove(lp_dir);
	return ret;
}

static void __exit livepatch_state_exit(void)
{
	struct lp_module *lp, *next;

	unregister_module_notifier(&module_nb);
	proc_remove(lp_dir);
	list_for_each_entry_safe(lp, next, &lp_modules, list) {
		list_del(&lp->list);
		kfree(lp);
	}
}

module_init(livepatch_state_init);
module_exit(livepatch_state_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("libtesvar reference state file for upstream live patching");
