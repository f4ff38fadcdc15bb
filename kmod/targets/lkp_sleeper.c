// SPDX-License-Identifier: GPL-2.0
/*
 * A target module whose kernel thread "lkp_sleeper" sleeps inside
 * lkp_sleeper_hold() while the parameter "hold" is 1 (so from insertion on).
 * A live patch of that function cannot switch the thread while it sleeps
 * there, so the patch's transition stalls until "hold" is written 0:
 *   echo 0 > /sys/module/lkp_sleeper/parameters/hold
 * A wake-up (the livepatch "signal" file) does not free it: the thread goes
 * back to sleep in the same function.
 */
#include <linux/err.h>
#include <linux/kernel.h>
#include <linux/kthread.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <linux/sched.h>
#include <linux/wait.h>

static DECLARE_WAIT_QUEUE_HEAD(sleeper_wait);
static bool hold = true;
static struct task_struct *sleeper;

static int set_hold(const char *value, const struct kernel_param *kp)
{
	int error = param_set_bool(value, kp);

	wake_up_interruptible(&sleeper_wait);
	return error;
}

static const struct kernel_param_ops hold_ops = {
	.set = set_hold,
	.get = param_get_bool,
};
module_param_cb(hold, &hold_ops, &hold, 0644);
MODULE_PARM_DESC(hold, "1: the thread sleeps inside lkp_sleeper_hold()");

noinline void lkp_sleeper_hold(void)
{
	wait_event_interruptible(sleeper_wait, !READ_ONCE(hold) || kthread_should_stop());
}

static int sleeper_main(void *unused)
{
	while (!kthread_should_stop()) {
		if (READ_ONCE(hold))
			lkp_sleeper_hold();
		else
			wait_event_interruptible(sleeper_wait,
						 READ_ONCE(hold) || kthread_should_stop());
	}
	return 0;
}

static int __init lkp_sleeper_init(void)
{
	sleeper = kthread_run(sleeper_main, NULL, "lkp_sleeper");
	return IS_ERR(sleeper) ? PTR_ERR(sleeper) : 0;
}

static void __exit lkp_sleeper_exit(void)
{
	kthread_stop(sleeper);
}

module_init(lkp_sleeper_init);
module_exit(lkp_sleeper_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("libtesvar test target module with a sleeping thread");
