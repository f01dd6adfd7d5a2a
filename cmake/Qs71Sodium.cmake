# libsodium, for the Ed25519 signatures of qs71prog's job files, found through pkg-config. The
# result is one target, Qs71::Sodium.
#
# Linux: the system's package (libsodium-dev), linked shared.
# Windows: the static library that scripts/windows_audio_libs.sh cross-builds from Debian's
# source package into the audio libraries' prefix (cmake/mingw-common.cmake points pkg-config
# there); its .pc file's Cflags carry SODIUM_STATIC.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QS71_SODIUM REQUIRED libsodium)

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
