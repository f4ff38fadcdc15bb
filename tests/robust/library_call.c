/* Another caller of the library in a process of its own, for the tests of
 * concurrent callers: it waits until every caller of its round is ready (a
 * file each in a shared directory, given up on after 10 s, so the result
 * never depends on the wait), makes one call and prints its result.
 *   library_call DIR INDEX CALLERS load|remove|deactivate ARGUMENT
 * Exit status 0 when the call answered 0, 1 when it answered anything else,
 * 2 on a usage error. */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "tesvar.h"

static int ready_callers(const char *dir) {
    DIR *stream = opendir(dir);
    int count = 0;
    if (stream == NULL) {
        return 0;
    }
    for (const struct dirent *entry = readdir(stream); entry != NULL; entry = readdir(stream)) {
        count += strncmp(entry->d_name, "ready.", 6) == 0;
    }
    closedir(stream);
    return count;
}

static void wait_for_the_others(const char *dir, const char *index, int callers) {
    char path[4096];
    snprintf(path, sizeof path, "%s/ready.%s", dir, index);
    const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        close(fd);
    }
    const struct timespec pause = {0, 1000000};
    for (int tries = 0; tries < 10000 && ready_callers(dir) < callers; ++tries) {
        nanosleep(&pause, NULL);
    }
}

int main(int argc, char **argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: library_call DIR INDEX CALLERS load|remove|deactivate ARGUMENT\n");
        return 2;
    }
    int32_t (*call)(const char *) = NULL;
    if (strcmp(argv[4], "load") == 0) {
        call = navo_lkp_load;
    } else if (strcmp(argv[4], "remove") == 0) {
        call = navo_lkp_remove;
    } else if (strcmp(argv[4], "deactivate") == 0) {
        call = navo_lkp_deactivate;
    } else {
        fprintf(stderr, "library_call: unknown call %s\n", argv[4]);
        return 2;
    }
    wait_for_the_others(argv[1], argv[2], atoi(argv[3]));
    const int32_t rc = call(argv[5]);
    printf("%d\n", (int)rc);
    return rc == 0 ? 0 : 1;
}
