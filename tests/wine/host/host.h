/* Windows test hosts for tivlink.dll. Each run plays one scenario and reports
 * on stdout; the wire is checked on the Linux side. Exit codes: 0 done,
 * 1 only ever from the library's fatal stop, 2 usage, 3 a host-side check
 * failed, 4 the library could not be bound. */
#ifndef WINE_HOST_H
#define WINE_HOST_H

#ifdef TIV_HOST_BY_NAME
#include "by_name.h"
#else
#include "tivlink.h"
#endif

enum { HOST_OK = 0, HOST_USAGE = 2, HOST_CHECK_FAILED = 3, HOST_UNBOUND = 4 };

/* Makes the library's exports callable; 0 when that failed. */
int bind_library(int list_exports);

/* Records a failed host-side check and carries on, so the connection is
 * still closed and the wire log stays complete. */
extern int host_failures;
#define HOST_CHECK(condition) \
    ((condition) ? (void)0 : host_check_failed(#condition, __LINE__))
void host_check_failed(const char* text, int line);

int run_scenario(int argc, char** argv);

#endif
