# The part of the mingw-w64 toolchain files that both Windows targets share; the including
# file sets QS71_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR. The posix thread model gives
# std::thread to the host tools; the runtime is linked statically (top-level CMakeLists.txt)
# so that the binaries run on a bare Windows.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QS71_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QS71_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QS71_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QS71_MINGW_PREFIX})
# Build tools such as Bison run on the build machine; libraries and headers come from the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
