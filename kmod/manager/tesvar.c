// SPDX-License-Identifier: GPL-2.0
/*
 * The patch manager: keeps the list of registered patches and shows it as
 * /proc/navo_lkp_list, one "num,pkg,patch" line per patch in the order the
 * "add" lines came. Each write() carries one op line, "add,num,pkg,patch" or
 * "rm,num,pkg,patch", without a newline; anything else is refused with
 * -EINVAL, which reaches the writer's close.
 */
#include <linux/kernel.h>
#include <linux/list.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/proc_fs.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/uaccess.h>

#define CONTROL_NAME "navo_lkp_list"
/* A name the library's records can carry: 1 to 63 characters. */
#define NAME_MAX_LEN 63
/* "rm," + a number + two names + two commas, with room to spare. */
#define OP_MAX_LEN 256

struct lkp_record {
	struct list_head list;
	long num;
	char pkg[NAME_MAX_LEN + 1];
	char patch[NAME_MAX_LEN + 1];
};

static LIST_HEAD(records);
/* Readers and writers take it, so no reader ever sees half an op. */
static DEFINE_MUTEX(records_lock);
static struct proc_dir_entry *control_entry;

static int control_show(struct seq_file *m, void *v)
{
	struct lkp_record *rec;

	mutex_lock(&records_lock);
	list_for_each_entry(rec, &records, list)
		seq_printf(m, "%ld,%s,%s\n", rec->num, rec->pkg, rec->patch);
	mutex_unlock(&records_lock);
	return 0;
}

static int control_open(struct inode *inode, struct file *file)
{
	return single_open(file, control_show, NULL);
}

/*
 * A name field: 1 to 63 bytes, none of them a comma, a blank or a control
 * character (the record lines could not carry it); other bytes, UTF-8
 * included, pass.
 */
static bool valid_name(const char *s)
{
	const unsigned char *c = (const unsigned char *)s;
	size_t len = strlen(s);

	if (len == 0 || len > NAME_MAX_LEN)
		return false;
	for (; *c; c++)
		if (*c == ',' || *c <= ' ' || *c == 0x7f)
			return false;
	return true;
}

static struct lkp_record *find_record(const char *pkg, const char *patch)
{
	struct lkp_record *rec;

	list_for_each_entry(rec, &records, list)
		if ((!pkg || !strcmp(rec->pkg, pkg)) && !strcmp(rec->patch, patch))
			return rec;
	return NULL;
}

static int op_add(long num, const char *pkg, const char *patch)
{
	struct lkp_record *rec;

	/* A patch name is a kernel module name: registered once, whatever package. */
	if (find_record(NULL, patch))
		return -EINVAL;
	rec = kzalloc(sizeof(*rec), GFP_KERNEL);
	if (!rec)
		return -ENOMEM;
	rec->num = num;
	strscpy(rec->pkg, pkg, sizeof(rec->pkg));
	strscpy(rec->patch, patch, sizeof(rec->patch));
	list_add_tail(&rec->list, &records);
	return 0;
}

static int op_rm(const char *pkg, const char *patch)
{
	struct lkp_record *rec = find_record(pkg, patch);

	if (!rec)
		return -EINVAL;
	list_del(&rec->list);
	kfree(rec);
	return 0;
}

/* Splits "op,num,pkg,patch" in place and applies it under the lock. */
static int apply_op(char *line)
{
	char *op = strsep(&line, ",");
	char *num_text = strsep(&line, ",");
	char *pkg = strsep(&line, ",");
	char *patch = line;
	long num;
	int ret;

	if (!num_text || !pkg || !patch || kstrtol(num_text, 10, &num))
		return -EINVAL;
	if (!valid_name(pkg) || !valid_name(patch))
		return -EINVAL;
	mutex_lock(&records_lock);
	if (!strcmp(op, "add"))
		ret = op_add(num, pkg, patch);
	else if (!strcmp(op, "rm"))
		ret = op_rm(pkg, patch);
	else
		ret = -EINVAL;
	mutex_unlock(&records_lock);
	return ret;
}

static ssize_t control_write(struct file *file, const char __user *buf, size_t count,
			     loff_t *ppos)
{
	char line[OP_MAX_LEN + 1];
	int ret;

	if (count == 0 || count > OP_MAX_LEN)
		return -EINVAL;
	if (copy_from_user(line, buf, count))
		return -EFAULT;
	line[count] = '\0';
	/* One op per write(), whole: an embedded NUL is a malformed line. */
	if (strlen(line) != count)
		return -EINVAL;
	ret = apply_op(line);
	return ret ? ret : count;
}

static const struct proc_ops control_ops = {
	.proc_open = control_open,
	.proc_read = seq_read,
	.proc_lseek = seq_lseek,
	.proc_release = single_release,
	.proc_write = control_write,
};

static int __init tesvar_init(void)
{
	control_entry = proc_create(CONTROL_NAME, 0600, NULL, &control_ops);
	return control_entry ? 0 : -ENOMEM;
}

static void __exit tesvar_exit(void)
{
	struct lkp_record *rec, *next;

	proc_remove(control_entry);
	list_for_each_entry_safe(rec, next, &records, list) {
		list_del(&rec->list);
		kfree(rec);
	}
}

module_init(tesvar_init);
module_exit(tesvar_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("libtesvar reference patch manager");
