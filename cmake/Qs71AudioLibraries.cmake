# The three libraries of sound preparation, found through pkg-config and nowhere else: libsoxr
# (resampling), libebur128 (loudness) and libsndfile (reading WAV, AIFF and FLAC, writing the
# prepared copies). Two targets: Qs71::AudioLibraries links them; Qs71::AudioHeaders gives only
# their headers, for the generator when it opens them at their first call (QS71_AUDIO_LAZY).
#
# Linux: the system's packages (libsoxr-dev, libebur128-dev, libsndfile1-dev), linked shared.
# The generator opens them only when a compile calls into them (a preparation option): with
# their dependencies they are 13 shared objects that every plain compile's start would load.
# gen/audio/preparation_libraries_posix.cpp passes its calls on, and is told each library's
# name (its SONAME) from the file found here.
# Windows (and any static build): point pkg-config at the prefix that holds the cross-built
# static libraries (PKG_CONFIG_LIBDIR=<prefix>/lib/pkgconfig) and configure with
# -DQS71_AUDIO_STATIC=ON; the private libraries of each .pc file (FLAC, ogg, libm) are then
# linked as well, and the headers' static-build definitions (FLAC__NO_DLL) come from the
# .pc files' Cflags. A static link costs nothing at start, so these builds link them.
option(QS71_AUDIO_STATIC "link the sound preparation libraries statically" ${WIN32})

find_package(PkgConfig REQUIRED)
pkg_check_modules(QS71_AUDIO REQUIRED soxr libebur128 sndfile)

include(${CMAKE_CURRENT_LIST_DIR}/Qs71PkgConfigTarget.cmake)
qs71_pkg_config_target(qs71_audio_libraries QS71_AUDIO "${QS71_AUDIO_STATIC}")
add_library(Qs71::AudioLibraries ALIAS qs71_audio_libraries)

set(QS71_AUDIO_LAZY_DEFAULT OFF)
if(NOT WIN32 AND NOT QS71_AUDIO_STATIC)
  set(QS71_AUDIO_LAZY_DEFAULT ON)
endif()
option(QS71_AUDIO_LAZY "qs71gen opens the sound preparation libraries at their first call" ${QS71_AUDIO_LAZY_DEFAULT})
# The leak checker of AddressSanitizer (and libFuzzer's) cannot see into a library opened late:
# what a dependency of libsoxr allocates as it is loaded reads as a leak of an unknown module.
# Those builds check the generator, not its loader, so they link the libraries.
if(QS71_SANITIZE OR QS71_FUZZ)
  set(QS71_AUDIO_LAZY OFF)
endif()

# The Debian package that holds the library opened by that SONAME: the .deb's Depends, which
# dpkg-shlibdeps cannot find for a library the programs do not link (QS71_LAZY_PACKAGES, read by
# Qs71Packaging.cmake). Nothing where dpkg does not know the file (a library built by hand).
function(qs71_library_package library soname)
  get_filename_component(folder ${library} DIRECTORY)
  execute_process(COMMAND dpkg-query -S ${folder}/${soname} OUTPUT_VARIABLE owner ERROR_QUIET)
  if(owner MATCHES "^([^:,]+)")
    set(packages ${QS71_LAZY_PACKAGES} ${CMAKE_MATCH_1})
    list(REMOVE_DUPLICATES packages)
    set(QS71_LAZY_PACKAGES "${packages}" CACHE INTERNAL "packages of the libraries opened late")
  endif()
endfunction()

# The name a shared library is opened by (its SONAME), read from the file pkg-config found.
function(qs71_library_soname out name)
  foreach(library IN LISTS QS71_AUDIO_LINK_LIBRARIES)
    get_filename_component(file ${library} NAME)
    if(NOT file MATCHES "^lib${name}\\.so")
      continue()
    endif()
    execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${library} OUTPUT_VARIABLE dump ERROR_QUIET)
    if(dump MATCHES "SONAME +([^ \r\n]+)")
      set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
      qs71_library_package(${library} ${CMAKE_MATCH_1})
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "QS71_AUDIO_LAZY: no SONAME found for lib${name} in ${QS71_AUDIO_LINK_LIBRARIES}; "
                      "configure with -DQS71_AUDIO_LAZY=OFF to link it")
endfunction()

add_library(qs71_audio_headers INTERFACE)
target_include_directories(qs71_audio_headers SYSTEM INTERFACE ${QS71_AUDIO_INCLUDE_DIRS})
target_compile_options(qs71_audio_headers INTERFACE ${QS71_AUDIO_CFLAGS_OTHER})
add_library(Qs71::AudioHeaders ALIAS qs71_audio_headers)
if(QS71_AUDIO_LAZY)
  set(QS71_LAZY_PACKAGES "" CACHE INTERNAL "packages of the libraries opened late")
  qs71_library_soname(QS71_SNDFILE_SONAME sndfile)
  qs71_library_soname(QS71_SOXR_SONAME soxr)
  qs71_library_soname(QS71_EBUR128_SONAME ebur128)
  message(STATUS "Sound preparation libraries opened at their first call: ${QS71_SNDFILE_SONAME} "
                 "${QS71_SOXR_SONAME} ${QS71_EBUR128_SONAME}")
endif()
