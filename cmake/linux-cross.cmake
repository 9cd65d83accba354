# What the ARM toolchain files share: Debian's cross compiler for
# TIVLINK_CROSS_TRIPLET, the libraries of that architecture from their
# multiarch folder, and libola-dev unpacked by scripts/arm-deps.sh (it cannot
# be installed for a foreign architecture). Tests run through qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TIVLINK_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TIVLINK_CROSS_TRIPLET}-g++)

# The compiler's own folder, then the system's, where the multiarch folders
# hold the target's libraries; programs come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TIVLINK_CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(TIVLINK_ARM_DEPS /opt/tivlink-arm/${TIVLINK_DEB_ARCH} CACHE PATH
    "Where scripts/arm-deps.sh unpacked libola-dev, the kernel and busybox for ${TIVLINK_DEB_ARCH}")
# pkg-config sees the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "${TIVLINK_ARM_DEPS}/ola/usr/lib/${TIVLINK_CROSS_TRIPLET}/pkgconfig:/usr/lib/${TIVLINK_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# qemu-user finds the target's loader and libraries in the multiarch folders
# (libc6:ARCH), so it needs no -L.
set(CMAKE_CROSSCOMPILING_EMULATOR ${TIVLINK_QEMU_USER})
