/* The public header compiles as C, and a C program links and calls the
 * library: tables readable, strerror answering. Touches no kernel file. */
#include <stdio.h>
#include <string.h>

#include "tesvar.h"

static int failures;

static void expect_text(const char *what, const char *actual, const char *expected) {
    if (strcmp(actual, expected) != 0) {
        fprintf(stderr, "%s: got \"%s\", want \"%s\"\n", what, actual, expected);
        failures++;
    }
}

int main(void) {
    expect_text("errtable[0]", errtable[0].message, "It's OK.");
    expect_text("errtable[38]", errtable[TESVAR_ERRTABLE_SIZE - 1].message, "Memcpy_s failed.");
    expect_text("head_info[3]", head_info[3], "Units List:");
    expect_text("livepatch_state_info[1]", livepatch_state_info[1].word, "enabled");
    expect_text("strerror(-256)", navo_lkp_strerror(-256), "Invalid lkp id.");
    if (errtable[TESVAR_ERRTABLE_SIZE - 1].code != -330 || livepatch_state_info[1].state != 5) {
        fprintf(stderr, "table codes differ\n");
        failures++;
    }
    return failures == 0 ? 0 : 1;
}
