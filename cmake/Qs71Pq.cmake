# libpq, for the PostgreSQL trace of a line of stations in qs71prog, found through pkg-config.
# The result is one target, Qs71::Pq.
#
# Linux: the system's package (libpq-dev), linked shared. The Windows builds have no libpq yet:
# a station there keeps its trace in SQLite alone.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QS71_PQ REQUIRED libpq)

include(${CMAKE_CURRENT_LIST_DIR}/Qs71PkgConfigTarget.cmake)
qs71_pkg_config_target(qs71_pq QS71_PQ OFF)
add_library(Qs71::Pq ALIAS qs71_pq)
