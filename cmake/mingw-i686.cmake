# Cross-build for 32-bit Windows on x86, the product's target, with Debian's mingw-w64
# (g++-mingw-w64-i686-posix).
set(QS71_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
# Floating point in SSE2 registers, as on x86-64, instead of the x87's 80-bit ones: the same
# arithmetic gives the same bits as the 64-bit and Linux builds (resampling, loudness).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
