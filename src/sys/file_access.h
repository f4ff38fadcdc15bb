// File access policy for the kernel's files and the package manifest: a file
// is opened only if it already exists as a regular file, through its canonical
// path; one formatted text is written per stream and delivered at close.
#ifndef TESVAR_SYS_FILE_ACCESS_H
#define TESVAR_SYS_FILE_ACCESS_H

#include <cstdio>

namespace tesvar {

constexpr int PATH_BUFFER_SIZE = 1024;  // paths and formatted texts: at most 1023 characters

// 1 if path names an existing regular file (links followed), else 0.
int is_file_existent(const char *path);

// Opens the formatted path with fopen(mode) if it is an existing regular file;
// never creates one. NULL (after logging the reason) on failure. The stream
// is close-on-exec.
FILE *open_file(const char *mode, const char *format, ...) __attribute__((format(printf, 2, 3)));

// open_file in two steps, so that two files can be opened close together:
// the canonical path of an existing regular file (NULL, after logging the
// reason, on failure; free() it), then the stream, close-on-exec (NULL,
// after logging, on failure).
char *canonical_file_path(const char *path);
FILE *open_canonical(const char *canonical, const char *mode);

// Opens one of the library's fixed kernel paths for reading, close-on-exec,
// with the same checks and log lines as canonical_file_path followed by
// open_canonical, but without resolving the path: a fixed path cannot be
// changed by a caller, and the regular-file check is made on the opened
// descriptor itself. NULL (after logging the reason) on failure.
FILE *open_fixed_for_reading(const char *fixed_path);
// The same for writing (truncating, as fopen "w" does, but never creating).
FILE *open_fixed_for_writing(const char *fixed_path);

// Appends one formatted text (1 to 1023 characters, no terminator) to stream.
// 0, -259, -260 or -269. Does not flush.
int write_file(FILE *stream, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Closes the stream: 0, or -270 when fclose fails (a refusal by the kernel
// of the buffered text included).
int close_file(FILE *stream);

}  // namespace tesvar

#endif
