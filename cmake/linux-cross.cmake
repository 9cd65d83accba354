# What the ARM toolchain files share: Debian's cross compiler for
# TIVLINK_CROSS_TRIPLET, against the target's libraries and headers that
# scripts/arm-deps.sh unpacked into a root of their own. Tests run through
# qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TIVLINK_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TIVLINK_CROSS_TRIPLET}-g++)

set(TIVLINK_ARM_DEPS /opt/tivlink-arm/${TIVLINK_DEB_ARCH} CACHE PATH
    "Where scripts/arm-deps.sh unpacked the ${TIVLINK_DEB_ARCH} libraries, the kernel and busybox")
# The compiler keeps its own C library and C++ headers, which come first;
# the root adds the libraries' headers and links.
set(CMAKE_SYSROOT ${TIVLINK_ARM_DEPS}/root)
set(CMAKE_FIND_ROOT_PATH /usr/${TIVLINK_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config sees the target's .pc files only, their paths in the root.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR} "${CMAKE_SYSROOT}/usr/lib/${TIVLINK_CROSS_TRIPLET}/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The target's loader and libraries are in the root, where qemu-user finds
# them by QEMU_LD_PREFIX (the test presets, tests/arm/run.sh): the tests'
# programs and those they start through binfmt alike.
set(CMAKE_CROSSCOMPILING_EMULATOR ${TIVLINK_QEMU_USER})
