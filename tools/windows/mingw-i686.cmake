# Cross-build for 32-bit Windows (Debian: g++-mingw-w64-i686-posix).
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=tools/windows/mingw-i686.cmake -DPYTHON=...
set(MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
