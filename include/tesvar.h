/*
 * libtesvar: live kernel patch management.
 *
 * Loads patch packages into the running kernel, switches them on and off,
 * reports their state and removes them again. The library keeps no state of
 * its own: the patch manager's control file and the kernel's live-patching
 * state file are read afresh by every call.
 *
 * Every function returns a result code: 0 for success, a negative number for
 * a failure (see errtable and navo_lkp_strerror). navo_lkp_state returns a
 * state number instead (see livepatch_state_info).
 */
#ifndef TESVAR_H
#define TESVAR_H

#include <stdint.h>

#if defined(TESVAR_BUILDING_LIBRARY)
#define TESVAR_API __attribute__((visibility("default")))
#else
#define TESVAR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One result code and its message. */
typedef struct errtable_entry {
    int32_t code;
    const char *message;
} errtable_entry;

/* One state number and the state word the kernel shows for it. */
typedef struct livepatch_state_entry {
    int32_t state;
    const char *word;
} livepatch_state_entry;

#define TESVAR_ERRTABLE_SIZE 39
#define TESVAR_HEAD_INFO_SIZE 4
#define TESVAR_STATE_INFO_SIZE 3

/* Every result code of the library and of the kernel side, with its message. */
TESVAR_API extern const errtable_entry errtable[TESVAR_ERRTABLE_SIZE];
/* The four keys of a package manifest's head lines, in order. */
TESVAR_API extern const char *const head_info[TESVAR_HEAD_INFO_SIZE];
/* State numbers returned by navo_lkp_state: 2 disabled, 5 enabled, 0 unknown. */
TESVAR_API extern const livepatch_state_entry livepatch_state_info[TESVAR_STATE_INFO_SIZE];

/* Loads the patch package file at pkg_path into the kernel. */
TESVAR_API int32_t navo_lkp_load(const char *pkg_path);
/* Loads the package and removes it again: would it load on this kernel? */
TESVAR_API int32_t navo_lkp_preload(const char *pkg_path);
/* The same as navo_lkp_preload. */
TESVAR_API int32_t navo_lkp_validate(const char *pkg_path);

/* Enables every patch of the loaded package pkg_name (its file name). */
TESVAR_API int32_t navo_lkp_activate(const char *pkg_name);
/* Disables every patch of the loaded package pkg_name. */
TESVAR_API int32_t navo_lkp_deactivate(const char *pkg_name);
/* State number of the package: 5 enabled, 2 disabled, 0 unknown, 9 no valid state. */
TESVAR_API int32_t navo_lkp_state(const char *pkg_name);
/* Takes every patch of the loaded package out of the kernel, newest first. */
TESVAR_API int32_t navo_lkp_remove(const char *pkg_name);

/* Names, in pkg_name (pkg_name_len >= 64 bytes), the package that last patched ko_name. */
TESVAR_API int32_t navo_lkp_last_patch_for_module(const char *ko_name, char *pkg_name,
                                                  uint32_t pkg_name_len);

/* Inserts the kernel module file at path. 0 or a negated error number. */
TESVAR_API int32_t navo_lkp_insmod(const char *path);
/* Removes the kernel module name (a module or module file name). 0 or a negated error number. */
TESVAR_API int32_t navo_lkp_rmmod(const char *name);

/* Batch operations: not supported; they log so and return 0. */
TESVAR_API int32_t navo_lkp_apply_patches(void);
TESVAR_API int32_t navo_lkp_reverse_patches(void);

/* The message for a result code; never NULL, owned by the library or the C library. */
TESVAR_API const char *navo_lkp_strerror(int32_t code);

#ifdef __cplusplus
}
#endif

#endif /* TESVAR_H */
