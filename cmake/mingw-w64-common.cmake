# Shared by the mingw-w64 toolchain files, which set KESTROWAN_MINGW_TRIPLE first.
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
