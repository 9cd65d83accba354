# 64-bit ARM Linux with Debian's cross compiler (g++-aarch64-linux-gnu).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TIVLINK_CROSS_TRIPLET aarch64-linux-gnu)
set(TIVLINK_DEB_ARCH arm64)
set(TIVLINK_QEMU_USER /usr/bin/qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
