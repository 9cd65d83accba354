// Every system call the stand-in makes goes through this table, so that a
// test can put its own function in the place of one (to make it fail, or to
// see what goes to standard error) and put the default back after. Unused,
// the seam costs one indirect call. Entries are swapped while other threads
// may call through them, hence the atomic loads and stores.
#pragma once

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stddef.h>
#include <sys/types.h>
#include <time.h>

struct PlatformSyscalls {
    int (*open)(const char* path, int flags);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    int (*ioctl)(int fd, unsigned long request, void* arg);
    int (*ppoll)(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask);
    int (*flock)(int fd, int operation);
    int (*isatty)(int fd);
    int (*eventfd)(unsigned initial, int flags);
    void* (*calloc)(size_t count, size_t size);
    int (*pthread_create)(pthread_t* thread, const pthread_attr_t* attr, void* (*routine)(void*), void* arg);
};

// Linked into the static library the tests use; the shared library exports none of it.
extern PlatformSyscalls platform_syscalls;
// The system's own functions, to put back or to call through.
extern const PlatformSyscalls platform_syscalls_default;

#define SYS(name) (__atomic_load_n(&platform_syscalls.name, __ATOMIC_RELAXED))
