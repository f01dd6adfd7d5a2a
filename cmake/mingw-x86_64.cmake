# Cross-build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64): the same
# sources as the 32-bit target, for machines whose Wine cannot run 32-bit programs.
# The posix thread model gives std::thread to the host tools; the runtime is linked statically
# (see the top-level CMakeLists.txt) so that the binaries run on a bare Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(QS71_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QS71_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QS71_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QS71_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QS71_MINGW_PREFIX})
# Build tools such as Bison run on the build machine; libraries and headers come from the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
