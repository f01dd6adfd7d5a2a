# cpp-httplib, which serves qs71gen --serve's page: the target Qs71::Httplib, where it exists.
#
# Debian's libcpp-httplib-dev is not the single-header form: httplib.h holds the declarations
# and libcpp-httplib.so the code, built with OpenSSL, zlib and brotli support. Those switches
# change the layout of the library's classes, so the header is compiled with the definitions of
# its pkg-config file, and qs71gen's HTTP module links the shared library (the .deb's Depends follows).
#
# Windows builds go without it: qs71gen.exe must run on a bare Windows with system DLLs only,
# and the Windows target is not cross-built from Debian's source; --serve then says it is not
# available there, and --watch with --html works as everywhere.
set(QS71_HTTPLIB OFF)
if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(QS71_HTTPLIB_PC IMPORTED_TARGET cpp-httplib)
  if(NOT QS71_HTTPLIB_PC_FOUND)
    message(FATAL_ERROR "cpp-httplib not found: install libcpp-httplib-dev (scripts/deps.sh)")
  endif()
  add_library(Qs71::Httplib ALIAS PkgConfig::QS71_HTTPLIB_PC)
  set(QS71_HTTPLIB ON)
endif()
