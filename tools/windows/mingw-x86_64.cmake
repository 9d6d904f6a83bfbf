# Cross-build for 64-bit Windows (Debian: g++-mingw-w64-x86-64-posix).
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=tools/windows/mingw-x86_64.cmake -DPYTHON=...
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
