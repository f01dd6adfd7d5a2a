# libsodium, for the Ed25519 signatures of qs71prog's job files, found through pkg-config. The
# result is one target, Qs71::Sodium.
#
# Linux: the system's package (libsodium-dev), linked shared.
# Windows: the static library that scripts/windows_sodium.sh cross-builds from Debian's source
# package into build-win-deps/<triple>/sodium, apart from the audio libraries' prefix so that
# neither rebuild touches the other. Its .pc file's Cflags carry SODIUM_STATIC.
find_package(PkgConfig REQUIRED)
if(WIN32)
  set(QS71_SODIUM_PREFIX ${PROJECT_SOURCE_DIR}/build-win-deps/${QS71_MINGW_PREFIX}/sodium)
  set(qs71_saved_libdir "$ENV{PKG_CONFIG_LIBDIR}")
  set(ENV{PKG_CONFIG_LIBDIR} ${QS71_SODIUM_PREFIX}/lib/pkgconfig)
  list(APPEND CMAKE_FIND_ROOT_PATH ${QS71_SODIUM_PREFIX})
  pkg_check_modules(QS71_SODIUM libsodium)
  set(ENV{PKG_CONFIG_LIBDIR} "${qs71_saved_libdir}")
  if(NOT QS71_SODIUM_FOUND)
    message(FATAL_ERROR "libsodium for ${QS71_MINGW_PREFIX} is missing: run "
      "scripts/windows_sodium.sh ${QS71_MINGW_PREFIX}")
  endif()
else()
  pkg_check_modules(QS71_SODIUM REQUIRED libsodium)
endif()

add_library(qs71_sodium INTERFACE)
add_library(Qs71::Sodium ALIAS qs71_sodium)
if(WIN32)
  target_include_directories(qs71_sodium SYSTEM INTERFACE ${QS71_SODIUM_STATIC_INCLUDE_DIRS})
  target_compile_options(qs71_sodium INTERFACE ${QS71_SODIUM_STATIC_CFLAGS_OTHER})
  target_link_directories(qs71_sodium INTERFACE ${QS71_SODIUM_STATIC_LIBRARY_DIRS})
  target_link_libraries(qs71_sodium INTERFACE -static ${QS71_SODIUM_STATIC_LIBRARIES})
else()
  target_include_directories(qs71_sodium SYSTEM INTERFACE ${QS71_SODIUM_INCLUDE_DIRS})
  target_compile_options(qs71_sodium INTERFACE ${QS71_SODIUM_CFLAGS_OTHER})
  target_link_directories(qs71_sodium INTERFACE ${QS71_SODIUM_LIBRARY_DIRS})
  target_link_libraries(qs71_sodium INTERFACE ${QS71_SODIUM_LIBRARIES})
endif()
