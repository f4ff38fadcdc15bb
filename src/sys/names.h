// Base names, suffixes and the single entry of a directory.
#ifndef TESVAR_SYS_NAMES_H
#define TESVAR_SYS_NAMES_H

namespace tesvar {

// Heap copy (1024-byte buffer) of the text after the last '/', or NULL.
char *get_file_name(const char *path);

// True for the entries "." and "..".
bool is_dot_entry(const char *name);

// 0 if name is longer than postfix and ends with it; -257 for NULL, -258 otherwise.
int check_file_postfix(const char *name, const char *postfix);

// Heap "dir/entry" (1024-byte buffer) for the only entry of dir other than
// "." and "..", or NULL when there is none, more than one, or it does not fit.
char *get_child_dir(const char *dir);

}  // namespace tesvar

#endif
