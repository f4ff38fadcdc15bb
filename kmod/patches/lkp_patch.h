/* SPDX-License-Identifier: GPL-2.0 */
/*
 * What every test live patch of ours shares: one replaced function of one
 * object (NULL for vmlinux), enabled when the module is inserted, and the
 * module's entry points. A patch module includes this after defining its
 * replacement function and says LKP_PATCH_ONE(object, "old_name", new_func).
 */
#ifndef LKP_PATCH_H
#define LKP_PATCH_H

#include <linux/kernel.h>
#include <linux/livepatch.h>
#include <linux/module.h>

#define LKP_PATCH_ONE(object, old, replacement)                                \
	static struct klp_func funcs[] = {                                     \
		{ .old_name = old, .new_func = replacement },                  \
		{}                                                             \
	};                                                                     \
	static struct klp_object objs[] = {                                    \
		{ .name = object, .funcs = funcs },                            \
		{}                                                             \
	};                                                                     \
	static struct klp_patch patch = {                                      \
		.mod = THIS_MODULE,                                            \
		.objs = objs,                                                  \
	};                                                                     \
	static int __init patch_init(void)                                     \
	{                                                                      \
		return klp_enable_patch(&patch);                               \
	}                                                                      \
	static void __exit patch_exit(void)                                    \
	{                                                                      \
	}                                                                      \
	module_init(patch_init);                                               \
	module_exit(patch_exit);                                               \
	MODULE_LICENSE("GPL");                                                 \
	MODULE_INFO(livepatch, "Y")

#endif
