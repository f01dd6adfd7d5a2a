# The part of the mingw-w64 toolchain files that both Windows targets share; the including
# file sets QS71_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR. The posix thread model gives
# std::thread to the host tools; the runtime is linked statically (top-level CMakeLists.txt)
# so that the binaries run on a bare Windows.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QS71_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QS71_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QS71_MINGW_PREFIX}-windres)

# The audio libraries are cross-built by scripts/windows_audio_libs.sh into a prefix of the
# source tree; pkg-config reads their .pc files there and nowhere else (the build machine's
# would name Linux libraries). Set in the environment here, it holds for every configure,
# also the reruns that ninja starts.
set(QS71_WIN_DEPS ${CMAKE_CURRENT_LIST_DIR}/../build-win-deps/${QS71_MINGW_PREFIX}/prefix)
cmake_path(NORMAL_PATH QS71_WIN_DEPS)
set(ENV{PKG_CONFIG_LIBDIR} ${QS71_WIN_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

set(CMAKE_FIND_ROOT_PATH /usr/${QS71_MINGW_PREFIX} ${QS71_WIN_DEPS})
# Build tools such as Bison run on the build machine; libraries and headers come from the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
