# What a package holds beyond the programs and libraries (their install() lines stand beside
# them), and CPack's settings: a Debian package on Linux, a zip on Windows.
#
#   cpack --config <build>/CPackConfig.cmake      (scripts/package.sh runs it for every target)
#
# The version is project(VERSION) in the top-level CMakeLists.txt, the one place it is set;
# every program prints it with --version.

if(WIN32)
  # The zip is the whole kit: the README, the guides it leads to and the example project
  # beside the programs.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs ${PROJECT_SOURCE_DIR}/examples DESTINATION .)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs ${PROJECT_SOURCE_DIR}/examples
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(QS71_PACKAGE_MAINTAINER "qs71 developers <qs71@localhost>" CACHE STRING
  "The Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME qs71)
set(CPACK_PACKAGE_VENDOR qs71)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "OTP image generator and USB programmer tools for the QS71 voice chips")
set(CPACK_PACKAGE_CONTACT "${QS71_PACKAGE_MAINTAINER}")
# Debug information stays in the build; the packages carry stripped programs.
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # qs71-<version>-win32.zip or -win64.zip, unpacking into a folder of the same name.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # qs71_<version>_<arch>.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Below the summary line, which CPack takes from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "qs71gen compiles a voice script and its WAV files into the OTP image of a QS71 chip,
qs71dump shows what an image holds, and qs71prog writes and verifies it through the
QS71 USB HID programmer (04d8:fe08) with the qs71_usb_writer library. The emulated
build of the library runs a whole job without hardware. A udev rule gives the user
at the seat access to the programmer.")
  # dpkg-shlibdeps works out Depends from what the programs and libraries link, the
  # programmer library's libhidapi-hidraw0 among them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # qs71gen opens the sound preparation libraries only when a compile needs them, so they are
  # not among what it links: their packages are named here, and shlibdeps adds the rest.
  if(QS71_AUDIO_LAZY AND QS71_LAZY_PACKAGES)
    string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_DEPENDS "${QS71_LAZY_PACKAGES}")
  endif()
  # postinst and postrm reload udev's rules; triggers runs ldconfig for the libraries.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm
    ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
