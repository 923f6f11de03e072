# Cross build for Windows (i686) with mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KESTROWAN_MINGW_TRIPLE i686-w64-mingw32)
# The posix thread model: this compiler generation's win32 model has no std::thread or
# std::mutex, which the tests' programs may use.
set(CMAKE_C_COMPILER ${KESTROWAN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTROWAN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTROWAN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTROWAN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so the .exe runs on a bare Windows without the compiler's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Named rather than left to the compiler's default: any i686 has cmpxchg8b, which keeps the
# 64-bit atomics lock-free and inline, with no libatomic to link.
set(CMAKE_CXX_FLAGS_INIT "-march=i686")
set(CMAKE_C_FLAGS_INIT "-march=i686")
