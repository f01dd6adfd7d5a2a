# toml++, which reads qs71gen's project files and qs71prog's station policy, header-only: one
# target, Qs71::Toml, made once for both.
include_guard(GLOBAL)
#
# Debian's libtomlplusplus-dev ships the headers with their implementation (.inl files) beside a
# shared library. The header-only form is used on every platform: qs71gen then needs no library
# of it at run time, and the Windows cross-build compiles the very same headers. These sit in
# /usr/include, which a cross-build must never search (it would find glibc's headers before
# mingw-w64's), so only the toml++ folder is linked into a folder of the build tree.
find_path(QS71_TOMLPP_INCLUDE toml++/toml.h NO_CMAKE_FIND_ROOT_PATH PATHS /usr/include)
if(NOT QS71_TOMLPP_INCLUDE)
  message(FATAL_ERROR "toml++ not found: install libtomlplusplus-dev (scripts/deps.sh)")
endif()
set(QS71_TOMLPP_LINKED ${CMAKE_BINARY_DIR}/tomlplusplus)
file(MAKE_DIRECTORY ${QS71_TOMLPP_LINKED})
file(CREATE_LINK ${QS71_TOMLPP_INCLUDE}/toml++ ${QS71_TOMLPP_LINKED}/toml++ SYMBOLIC)

add_library(qs71_toml INTERFACE)
# Marked as a system folder: the library's own warnings are not ours to fix.
target_include_directories(qs71_toml SYSTEM INTERFACE ${QS71_TOMLPP_LINKED})
# Errors come back as results, as everywhere in qs71, never as exceptions.
target_compile_definitions(qs71_toml INTERFACE TOML_HEADER_ONLY=1 TOML_EXCEPTIONS=0)
add_library(Qs71::Toml ALIAS qs71_toml)
