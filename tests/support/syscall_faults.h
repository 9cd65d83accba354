// System-call faults for the stand-in's tests, one of each kind at a time:
//   IoctlFault f(TCSETS2, EIO);            // that request fails, every time
//   TtyFault<&PlatformSyscalls::write> f(EIO, 0, 1);  // the next tty write
//   CallFault<&PlatformSyscalls::calloc> f(2);        // the third calloc
// `skip` calls pass first, then `times` fail (-1: all). Box output and the
// port's wake-up descriptor are never hit: only the faulted request, only
// terminals other than standard error.
#pragma once

#include <errno.h>
#include <unistd.h>

#include <atomic>

#include "tests/support/syscall_swap.h"

struct FaultCount {
    std::atomic<int> skip{0};
    std::atomic<int> times{0};
    std::atomic<int> fired{0};

    void arm(int skip_calls, int fail_calls) {
        fired = 0;
        times = fail_calls;
        skip = skip_calls;
    }
    // Whether this call fails; concurrent callers each take one turn.
    bool fire() {
        if (skip.load() > 0 && skip.fetch_sub(1) > 0) return false;
        for (int t = times.load(); t != 0;)
            if (t < 0 || times.compare_exchange_weak(t, t - 1)) {
                fired++;
                return true;
            }
        return false;
    }
};

// What each kind of fault keeps: its counts and errno (one set per `Kind`)
// and the swapped entry.
template <typename Kind, auto Member>
class FaultBase {
public:
    int fired() const { return count().fired; }

protected:
    FaultBase(typename SyscallSwap<Member>::Function fake, int error, int skip, int times) : swap_(fake) {
        error_ = error;
        count().arm(skip, times);
    }
    static FaultCount& count() {
        static FaultCount c;
        return c;
    }
    static inline int error_;

private:
    SyscallSwap<Member> swap_;
};

class IoctlFault : public FaultBase<IoctlFault, &PlatformSyscalls::ioctl> {
public:
    IoctlFault(unsigned long request, int error, int skip = 0, int times = -1)
        : FaultBase(fake, error, skip, times) {
        request_ = request;
    }

private:
    static int fake(int fd, unsigned long request, void* arg) {
        if (request == request_ && count().fire()) {
            errno = error_;
            return -1;
        }
        return platform_syscalls_default.ioctl(fd, request, arg);
    }
    static inline unsigned long request_;
};

// read or write on a terminal descriptor.
template <auto Member>
class TtyFault : public FaultBase<TtyFault<Member>, Member> {
    using Base = FaultBase<TtyFault<Member>, Member>;

public:
    TtyFault(int error, int skip = 0, int times = -1) : Base(fake, error, skip, times) {}

private:
    template <typename Buffer>
    static ssize_t fake(int fd, Buffer buffer, size_t size) {
        if (fd != STDERR_FILENO && isatty(fd) && Base::count().fire()) {
            errno = Base::error_;
            return -1;
        }
        return (platform_syscalls_default.*Member)(fd, buffer, size);
    }
};

// A call that reports failure its own way: calloc with null, pthread_create
// with the error number, the others with -1 and `error` in errno.
template <auto Member>
class CallFault : public FaultBase<CallFault<Member>, Member> {
    using Base = FaultBase<CallFault<Member>, Member>;

    template <typename R, typename... Args>
    static R call(Args... args) {
        if (!Base::count().fire()) return (platform_syscalls_default.*Member)(args...);
        if constexpr (std::is_pointer_v<R>) {
            return nullptr;
        } else if constexpr (std::is_same_v<decltype(Member), decltype(&PlatformSyscalls::pthread_create)>) {
            return Base::error_;
        } else {
            errno = Base::error_;
            return -1;
        }
    }
    template <typename R, typename... Args>
    static constexpr auto fake_for(R (*)(Args...)) {
        return &call<R, Args...>;
    }

public:
    explicit CallFault(int skip = 0, int times = 1, int error = EAGAIN)
        : Base(fake_for(platform_syscalls_default.*Member), error, skip, times) {}
};
