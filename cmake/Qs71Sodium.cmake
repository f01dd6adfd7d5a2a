# libsodium, for the Ed25519 signatures of qs71prog's job files, found through pkg-config. The
# result is one target, Qs71::Sodium.
#
# Linux: the system's package (libsodium-dev), linked shared.
# Windows: the static library that scripts/windows_audio_libs.sh cross-builds from Debian's
# source package into the audio libraries' prefix (cmake/mingw-common.cmake points pkg-config
# there); its .pc file's Cflags carry SODIUM_STATIC.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QS71_SODIUM REQUIRED libsodium)

include(${CMAKE_CURRENT_LIST_DIR}/Qs71PkgConfigTarget.cmake)
qs71_pkg_config_target(qs71_sodium QS71_SODIUM "${WIN32}")
add_library(Qs71::Sodium ALIAS qs71_sodium)
