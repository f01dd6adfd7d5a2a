# libpq, for the PostgreSQL trace of a line of stations in qs71prog, and the OpenSSL it speaks
# TLS with, found through pkg-config. The result is one target, Qs71::Pq. libcrypto is named
# as well because qs71prog reports the OpenSSL it runs with (--version).
#
# Linux: the system's packages (libpq-dev, libssl-dev), linked shared.
# Windows: the static libraries that scripts/windows_audio_libs.sh cross-builds from Debian's
# source packages into the audio libraries' prefix (cmake/mingw-common.cmake points pkg-config
# there). libpq.a there is the library itself, not a DLL's import library.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QS71_PQ REQUIRED libpq libcrypto)
message(STATUS "The line's trace: libpq ${QS71_PQ_libpq_VERSION}, OpenSSL ${QS71_PQ_libcrypto_VERSION}")

include(${CMAKE_CURRENT_LIST_DIR}/Qs71PkgConfigTarget.cmake)
qs71_pkg_config_target(qs71_pq QS71_PQ "${WIN32}")
add_library(Qs71::Pq ALIAS qs71_pq)
