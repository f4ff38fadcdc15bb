// SPDX-License-Identifier: GPL-2.0
/* Test live patch: replaces version_proc_show() of vmlinux. */
#include <linux/seq_file.h>

#include "lkp_patch.h"

static int patched_show(struct seq_file *m, void *v)
{
	seq_puts(m, "lkp_version patched\n");
	return 0;
}

LKP_PATCH_ONE(NULL, "version_proc_show", patched_show);
