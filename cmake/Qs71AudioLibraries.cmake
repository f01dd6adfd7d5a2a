# The three libraries of sound preparation, found through pkg-config and nowhere else: libsoxr
# (resampling), libebur128 (loudness) and libsndfile (reading WAV, AIFF and FLAC, writing the
# prepared copies). The result is one target, Qs71::AudioLibraries.
#
# Linux: the system's packages (libsoxr-dev, libebur128-dev, libsndfile1-dev), linked shared.
# Windows (and any static build): point pkg-config at the prefix that holds the cross-built
# static libraries (PKG_CONFIG_LIBDIR=<prefix>/lib/pkgconfig) and configure with
# -DQS71_AUDIO_STATIC=ON; the private libraries of each .pc file (FLAC, ogg, libm) are then
# linked as well, and the headers' static-build definitions (FLAC__NO_DLL) come from the
# .pc files' Cflags.
option(QS71_AUDIO_STATIC "link the sound preparation libraries statically" ${WIN32})

find_package(PkgConfig REQUIRED)
pkg_check_modules(QS71_AUDIO REQUIRED soxr libebur128 sndfile)

add_library(qs71_audio_libraries INTERFACE)
add_library(Qs71::AudioLibraries ALIAS qs71_audio_libraries)
if(QS71_AUDIO_STATIC)
  target_include_directories(qs71_audio_libraries SYSTEM INTERFACE ${QS71_AUDIO_STATIC_INCLUDE_DIRS})
  target_compile_options(qs71_audio_libraries INTERFACE ${QS71_AUDIO_STATIC_CFLAGS_OTHER})
  target_link_directories(qs71_audio_libraries INTERFACE ${QS71_AUDIO_STATIC_LIBRARY_DIRS})
  target_link_libraries(qs71_audio_libraries INTERFACE -static ${QS71_AUDIO_STATIC_LIBRARIES})
else()
  target_include_directories(qs71_audio_libraries SYSTEM INTERFACE ${QS71_AUDIO_INCLUDE_DIRS})
  target_compile_options(qs71_audio_libraries INTERFACE ${QS71_AUDIO_CFLAGS_OTHER})
  target_link_directories(qs71_audio_libraries INTERFACE ${QS71_AUDIO_LIBRARY_DIRS})
  target_link_libraries(qs71_audio_libraries INTERFACE ${QS71_AUDIO_LIBRARIES})
endif()
