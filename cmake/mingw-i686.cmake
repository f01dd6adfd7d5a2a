# Cross-build for 32-bit Windows on x86, the product's target, with Debian's mingw-w64
# (g++-mingw-w64-i686-posix).
set(QS71_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
