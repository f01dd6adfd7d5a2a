# SQLite, for qs71prog's production trace, found through pkg-config. The result is one target,
# Qs71::Sqlite.
#
# Linux: the system's package (libsqlite3-dev), linked shared.
# Windows: the static library that scripts/windows_audio_libs.sh cross-builds from Debian's
# source package into the audio libraries' prefix (cmake/mingw-common.cmake points pkg-config
# there).
find_package(PkgConfig REQUIRED)
pkg_check_modules(QS71_SQLITE REQUIRED sqlite3)

include(${CMAKE_CURRENT_LIST_DIR}/Qs71PkgConfigTarget.cmake)
qs71_pkg_config_target(qs71_sqlite QS71_SQLITE "${WIN32}")
add_library(Qs71::Sqlite ALIAS qs71_sqlite)
