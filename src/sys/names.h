// Base names, suffixes and the single entry of a directory.
#ifndef TESVAR_SYS_NAMES_H
#define TESVAR_SYS_NAMES_H

#include <dirent.h>

namespace tesvar {

// Heap copy (1024-byte buffer) of the text after the last '/', or NULL.
char *get_file_name(const char *path);

// True for the entries "." and "..".
bool is_dot_entry(const char *name);

// 0 if name is longer than postfix and ends with it; -257 for NULL, -258 otherwise.
int check_file_postfix(const char *name, const char *postfix);

// True when the entry of dir is itself a directory or a regular file: not a
// symbolic link (never followed), FIFO, device or socket.
bool is_plain_entry(DIR *dir, const char *name);

// True when path is a regular file itself, not a link to one.
bool is_plain_file(const char *path);

// Heap "dir/entry" (1024-byte buffer) for the only entry of dir other than
// "." and "..", or NULL when there is none, more than one, or it does not fit.
// Entries that are not directories or regular files count as absent.
char *get_child_dir(const char *dir);

}  // namespace tesvar

#endif
