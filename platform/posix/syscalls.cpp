#include "platform/posix/syscalls.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int sys_open(const char* path, int flags) { return open(path, flags); }
static int sys_ioctl(int fd, unsigned long request, void* arg) { return ioctl(fd, request, arg); }
static int sys_eventfd(unsigned initial, int flags) { return eventfd(initial, flags); }

const PlatformSyscalls platform_syscalls_default = {
    sys_open, close, read, write, sys_ioctl, ppoll, flock, isatty, sys_eventfd, calloc, pthread_create,
};

PlatformSyscalls platform_syscalls = platform_syscalls_default;

void* tiv_calloc(size_t count, size_t size) { return SYS(calloc)(count, size); }
