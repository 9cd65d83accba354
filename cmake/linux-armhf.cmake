# 32-bit ARM Linux, hard-float, with Debian's cross compiler
# (g++-arm-linux-gnueabihf).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TIVLINK_CROSS_TRIPLET arm-linux-gnueabihf)
set(TIVLINK_DEB_ARCH armhf)
set(TIVLINK_QEMU_USER /usr/bin/qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
