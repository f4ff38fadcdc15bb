// The log channel: one mutex-guarded, bounded message per call to syslog.
#include "frame/log.h"

#include <pthread.h>
#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "frame/bounded.h"

namespace tesvar {
namespace {

// Serialises every call so concurrent messages never interleave.
pthread_mutex_t mutex_fp = PTHREAD_MUTEX_INITIALIZER;

// Every level goes out at LOG_INFO; only the prefix tells them apart.
void send_to_syslog(int level, const char *message) {
    switch (level) {
        case LKP_INFO:
            syslog(LOG_INFO, "[LKP-INFO]:%s\n", message);
            break;
        case LKP_ERR:
            syslog(LOG_INFO, "[LKP-ERR]:%s\n", message);
            break;
        default:
            syslog(LOG_INFO, "[LKP-?]:%s\n", message);
            break;
    }
}

}  // namespace

void lkp_log(int level, const char *format, ...) {
    char message[MAX_LOG_SIZE];
    std::memset(message, 0, sizeof message);

    if (pthread_mutex_lock(&mutex_fp) != 0) {
        std::puts("[LKP-ERR]:pthread_mutex_lock fails.");
        return;
    }

    va_list arguments;
    va_start(arguments, format);
    const int written = vsnprintf_s(message, sizeof message, sizeof message - 1, format, arguments);
    va_end(arguments);

    // A message that does not fit is dropped whole, never cut short.
    if (written < 0) {
        std::puts("[LKP-ERR]:MAX_LOG_SIZE is not enough to hold data.");
    } else {
        send_to_syslog(level, message);
    }

    if (pthread_mutex_unlock(&mutex_fp) != 0) {
        std::puts("[LKP-ERR]:pthread_mutex_unlock fails.");
    }
}

}  // namespace tesvar
