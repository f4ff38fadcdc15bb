// Opening, writing and closing the kernel's files and the package manifest.
#include "sys/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "frame/bounded.h"
#include "frame/log.h"
#include "frame/result_codes.h"
#include "sys/owned.h"
#include "sys/text_buffer.h"

namespace tesvar {
namespace {

// Formats into a fresh text buffer; the returned bool tells whether the text
// is whole. The buffer is null only when it could not be allocated.
bool format_text(HeapText &buffer, const char *format, va_list arguments)
    __attribute__((format(printf, 2, 0)));

bool format_text(HeapText &buffer, const char *format, va_list arguments) {
    const int written =
        vsnprintf_s(buffer.get(), PATH_BUFFER_SIZE, PATH_BUFFER_SIZE - 1, format, arguments);
    return is_whole_text(written, PATH_BUFFER_SIZE);
}

}  // namespace

int is_file_existent(const char *path) {
    struct stat status {};
    if (path == nullptr || stat(path, &status) != 0) {
        return 0;
    }
    return S_ISREG(status.st_mode) ? 1 : 0;
}

FILE *open_file(const char *mode, const char *format, ...) {
    HeapText path = new_text_buffer();
    if (!path) {
        lkp_log(LKP_ERR, "open_file: Failed allocate memory.");
        return nullptr;
    }

    va_list arguments;
    va_start(arguments, format);
    const bool formatted = format_text(path, format, arguments);
    va_end(arguments);
    if (!formatted) {
        lkp_log(LKP_ERR, "open_file: Failed to vsnprintf the input parameters.");
        return nullptr;
    }

    const HeapText canonical(canonical_file_path(path.get()));
    return canonical ? open_canonical(canonical.get(), mode) : nullptr;
}

char *canonical_file_path(const char *path) {
    // Only an existing regular file is opened, so mode "w" never creates one.
    if (is_file_existent(path) != 1) {
        lkp_log(LKP_ERR, "open_file: The file is not existent.");
        return nullptr;
    }
    char *canonical = realpath(path, nullptr);
    if (canonical == nullptr) {
        lkp_log(LKP_ERR, "open_file: Failed to translated to canonical filepatch.");
    }
    return canonical;
}

FILE *open_canonical(const char *canonical, const char *mode) {
    // Close-on-exec, so that no child started meanwhile (by this thread's
    // commands or another thread's) inherits the kernel's files.
    char cloexec_mode[8] = {};
    const size_t mode_length = std::strlen(mode);
    FILE *stream = nullptr;
    if (mode_length + 2 <= sizeof cloexec_mode) {
        std::memcpy(cloexec_mode, mode, mode_length + 1);
        cloexec_mode[mode_length] = 'e';
        cloexec_mode[mode_length + 1] = '\0';
        stream = std::fopen(canonical, cloexec_mode);
    }
    if (stream == nullptr) {
        lkp_log(LKP_ERR, "open_file: Failed to open the file.");
    }
    return stream;
}

namespace {

// The line canonical_file_path would have logged for a path that could not
// be opened: asked only on that failure path.
void log_open_failure(const char *path) {
    lkp_log(LKP_ERR, is_file_existent(path) == 1 ? "open_file: Failed to open the file."
                                                 : "open_file: The file is not existent.");
}

// Non-blocking, so that a FIFO in the file's place is refused below instead
// of waiting for its other end; a regular file ignores the flag. Without
// O_CREAT: like open_file, never creates the file.
FILE *open_fixed(const char *fixed_path, int flags, const char *mode) {
    Fd file(open(fixed_path, flags | O_CLOEXEC | O_NONBLOCK));
    if (!file.valid()) {
        log_open_failure(fixed_path);
        return nullptr;
    }
    struct stat status {};
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        lkp_log(LKP_ERR, "open_file: The file is not existent.");
        return nullptr;
    }
    FILE *stream = fdopen(file.get(), mode);
    if (stream == nullptr) {
        lkp_log(LKP_ERR, "open_file: Failed to open the file.");
        return nullptr;
    }
    (void)file.release();
    return stream;
}

}  // namespace

FILE *open_fixed_for_reading(const char *fixed_path) {
    return open_fixed(fixed_path, O_RDONLY, "r");
}

FILE *open_fixed_for_writing(const char *fixed_path) {
    return open_fixed(fixed_path, O_WRONLY | O_TRUNC, "w");
}

int write_file(FILE *stream, const char *format, ...) {
    HeapText text = new_text_buffer();
    if (!text) {
        lkp_log(LKP_ERR, "write_file: Failed to malloc for buffer.");
        return LKP_MALLOC_FAILED;
    }

    va_list arguments;
    va_start(arguments, format);
    const bool formatted = format_text(text, format, arguments);
    va_end(arguments);
    if (!formatted) {
        return LKP_SNPRINTF_FAILED;
    }

    // One item of the text's length: an empty text (a leading NUL) writes no item.
    if (std::fwrite(text.get(), std::strlen(text.get()), 1, stream) != 1) {
        lkp_log(LKP_ERR, "write_file: Failed to fwrite.");
        return LKP_WRITE_FAILED;
    }
    return LKP_OK;
}

int close_file(FILE *stream) {
    // The kernel's answer to the buffered text arrives here, at the flush.
    return std::fclose(stream) == 0 ? LKP_OK : LKP_CLOSE_FAILED;
}

}  // namespace tesvar
