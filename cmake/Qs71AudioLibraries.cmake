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

include(${CMAKE_CURRENT_LIST_DIR}/Qs71PkgConfigTarget.cmake)
qs71_pkg_config_target(qs71_audio_libraries QS71_AUDIO "${QS71_AUDIO_STATIC}")
add_library(Qs71::AudioLibraries ALIAS qs71_audio_libraries)
