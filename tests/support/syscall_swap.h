// Puts a test's own function in one entry of the stand-in's system-call
// table for the life of the object, and the system's own back after:
//   SyscallSwap<&PlatformSyscalls::write> swap(fake_write);
#pragma once

#include <type_traits>

#include "platform/posix/syscalls.h"

template <auto Member>
class SyscallSwap {
public:
    using Function = std::remove_reference_t<decltype(platform_syscalls.*Member)>;
    explicit SyscallSwap(Function replacement) {
        __atomic_store_n(&(platform_syscalls.*Member), replacement, __ATOMIC_RELAXED);
    }
    ~SyscallSwap() {
        __atomic_store_n(&(platform_syscalls.*Member), platform_syscalls_default.*Member, __ATOMIC_RELAXED);
    }
    SyscallSwap(const SyscallSwap&) = delete;
    SyscallSwap& operator=(const SyscallSwap&) = delete;
};
