# Where `cmake --install` puts things. Included before the subdirectories, whose install()
# lines use these folders.
#
# Linux: the GNU layout (GNUInstallDirs), so a /usr prefix on Debian puts the libraries in the
# multiarch folder (lib/x86_64-linux-gnu). qs71prog loads the programmer library at run time
# and looks beside itself and in ../lib; its run path names the library folder relative to
# its own, so the bare-name lookup finds the library wherever the tree was installed or
# unpacked, without the system loader's cache.
#
# Windows: one flat folder. Windows loads a DLL from the program's own folder first, and
# qs71prog.exe looks for qs71_usb_writer.dll only there, so the DLLs stay beside the programs.
include(GNUInstallDirs)

if(WIN32)
  set(QS71_INSTALL_BINDIR .)
  set(QS71_INSTALL_LIBDIR .)
  set(QS71_INSTALL_INCLUDEDIR include)
else()
  set(QS71_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(QS71_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR})
  set(QS71_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
  file(RELATIVE_PATH QS71_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set(QS71_INSTALL_RPATH "$ORIGIN/${QS71_BIN_TO_LIB}")
endif()
