# Cross build for Windows (i686) with mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KESTROWAN_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Named rather than left to the compiler's default: any i686 has cmpxchg8b, which keeps the
# 64-bit atomics lock-free and inline, with no libatomic to link.
set(CMAKE_CXX_FLAGS_INIT "-march=i686")
set(CMAKE_C_FLAGS_INIT "-march=i686")
