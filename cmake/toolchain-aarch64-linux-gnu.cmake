# Cross build for 64-bit ARM Linux (Debian's arm64) with g++-aarch64-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(KESTROWAN_CROSS_TRIPLE aarch64-linux-gnu)
set(KESTROWAN_DEB_ARCH arm64)
set(KESTROWAN_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
