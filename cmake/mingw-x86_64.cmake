# Cross-build for 64-bit Windows (g++-mingw-w64-x86-64-posix): the same sources as the 32-bit
# target, for machines whose Wine cannot run 32-bit programs.
set(QS71_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
