# Cross build for 32-bit ARM Linux with hardware floating point (Debian's armhf: ARMv7-A,
# Thumb-2, VFPv3-D16) with g++-arm-linux-gnueabihf.
set(CMAKE_SYSTEM_PROCESSOR arm)

set(KESTROWAN_CROSS_TRIPLE arm-linux-gnueabihf)
set(KESTROWAN_DEB_ARCH armhf)
set(KESTROWAN_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
