# Shared by the ARM Linux toolchain files, which set KESTROWAN_CROSS_TRIPLE, KESTROWAN_DEB_ARCH
# and KESTROWAN_QEMU first. The sysroot is the one that Debian's libc6-dev-<arch>-cross puts
# under /usr/<triple>.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${KESTROWAN_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KESTROWAN_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTROWAN_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built for the target (the unit tests) run under qemu-user, with the target's loader
# and libraries from the sysroot.
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTROWAN_QEMU} -L /usr/${KESTROWAN_CROSS_TRIPLE})
# The Debian package's architecture: cpack would otherwise ask dpkg for the build machine's.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${KESTROWAN_DEB_ARCH})
