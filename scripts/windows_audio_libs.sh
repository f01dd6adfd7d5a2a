#!/usr/bin/env bash
# The audio libraries of the Windows builds: libsndfile (with FLAC as its only external codec),
# libsoxr and libebur128, libsodium for qs71prog's signed jobs, SQLite for its production
# trace, and libpq with OpenSSL for a line's trace on a PostgreSQL server, cross-built as static
# libraries from Debian's source packages of the very versions the Linux build links (OpenSSL
# may be newer: openssl_version below), into build-win-deps/<triple>/prefix with their .pc
# files. cmake/mingw-common.cmake points the cross-builds' pkg-config at that prefix.
#
# Usage: scripts/windows_audio_libs.sh TRIPLE...   (i686-w64-mingw32, x86_64-w64-mingw32)
#
# A prefix whose stamp names the same installed versions and the same recipe (this script and
# the toolchain files) is left as it is, so a rerun costs a moment. A finished prefix is also
# kept outside the tree, in ${QS71_WIN_DEPS_CACHE:-~/.cache/qs71/win-deps}/<triple>-<SHA-256 of
# its stamp>.tar.xz, so that a new clone on the same machine unpacks it instead of building. The sources come through apt
# with a private list of deb-src entries under build-win-deps/, derived from the system's own
# sources: nothing outside the tree is changed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
deps="$top/build-win-deps"
jobs=$(nproc)

# Source package, the -dev package whose installed version it must match, in the order they
# are built (libpq is configured against the OpenSSL built before it).
packages=(flac:libflac-dev libsndfile:libsndfile1-dev libsoxr:libsoxr-dev libebur128:libebur128-dev
          libsodium:libsodium-dev sqlite3:libsqlite3-dev openssl:libssl-dev postgresql-15:libpq-dev)

die() { echo "windows_audio_libs: $*" >&2; exit 1; }

# The processor seconds this shell's finished children have used (user and system, from
# /proc, read without starting a process): on a machine shared with other builds the
# wall-clock seconds say little, these say what a build costs.
ticks=$(getconf CLK_TCK)
cpu_seconds() {  # the variable to set
  local stat
  read -ra stat <"/proc/$BASHPID/stat"
  printf -v "$1" %d $(((stat[15] + stat[16]) / ticks))
}

source_version() {  # -dev package
  dpkg-query -W -f='${db:Status-Status} ${source:Version}' "$1" 2>/dev/null |
    sed -n 's/^installed //p'
}

# OpenSSL is the one exception to the rule that a library is the version the Linux build
# links. Debian's archive serves only the newest source of each suite, and openssl's security
# releases come every few weeks, so the Linux build's version (libssl3, replaced by each
# upgrade) often has no source any more (seen with 3.0.19, when the archive served 3.0.17,
# 3.0.20 and 3.0.22); and a copy linked into qs71prog.exe never gets the system's updates. So
# the installed version is built when the archive serves its source, and otherwise the newest
# release of the same series (3.0: its releases are fixes, under one interface and one
# behaviour) that it serves, never an older one, which would lack fixes the Linux build has.
# The choice is kept per installed version (src/openssl-for-VERSION); the build log names it.
openssl_version() {  # the installed libssl-dev's source version
  cat "$deps/src/openssl-for-$1" 2>/dev/null || echo "not chosen yet for $1"
}

# The source version built for an entry of the table.
build_version() {  # source package, -dev package
  local installed
  installed=$(source_version "$2")
  [ -n "$installed" ] || die "$2 is not installed (scripts/deps.sh installs it)"
  if [ "$1" = openssl ]; then openssl_version "$installed"; else echo "$installed"; fi
}

# What the prefix is made of: the installed version of each -dev package and the recipe's own
# text. It names what a build starts from, not OpenSSL's choice, so that a new clone, which has
# made no choice yet, finds the cache (the prefix's versions file names what was built).
recipe_stamp() {
  local entry installed
  for entry in "${packages[@]}"; do
    installed=$(source_version "${entry#*:}")
    [ -n "$installed" ] || die "${entry#*:} is not installed (scripts/deps.sh installs it)"
    echo "${entry%%:*} $installed"
  done
  cat "$0" "$top"/cmake/mingw-*.cmake | sha256sum
}

# The source versions a prefix was built from, for the build log.
built_versions() {  # triple
  paste -sd, "$deps/$1/prefix/versions" | sed 's/,/, /g'
}

# apt's configuration with deb-src entries of the system's own archives, its lists and cache
# kept under $deps.
private_apt_config() {
  local apt="$deps/apt"
  if [ ! -f "$apt/apt.conf" ]; then
    mkdir -p "$apt/parts" "$apt/lists/partial" "$apt/cache/archives/partial"
    local list
    for list in /etc/apt/sources.list.d/*.sources; do
      [ -f "$list" ] && sed 's/^Types:.*/Types: deb-src/' "$list" >"$apt/parts/$(basename "$list")"
    done
    for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$list" ] && sed -n 's/^deb /deb-src /p' "$list" >>"$apt/parts/system.list"
    done
    cat >"$apt/apt.conf" <<EOF
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$apt/parts";
Dir::State::Lists "$apt/lists";
Dir::Cache "$apt/cache";
APT::Sandbox::User "root";
EOF
  fi
  echo "$apt/apt.conf"
}

private_apt() { APT_CONFIG=$(private_apt_config) apt-get -qq "$@"; }

# The lists, fetched once; brought up to date (once a run) when a version is missing from them.
have_lists() {
  compgen -G "$deps/apt/lists/*Sources*" >/dev/null || private_apt update >&2 ||
    die "apt-get update of the deb-src entries failed"
}
refresh_lists() {
  [ -z "${lists_refreshed:-}" ] || return 1
  lists_refreshed=1
  private_apt update >&2
}

# The files a .dsc lists, with their SHA-256.
dsc_files() {  # dsc
  sed -n '/^Checksums-Sha256:/,/^[A-Z]/p' "$1" | awk 'NF == 3 {print $1, $3}'
}

# Downloads the files of a source package into $deps/src, unless they are there and whole;
# false when the archive has no .dsc of that version.
download_source() {  # source package, version
  local name=$1 version=$2 dsc="$deps/src/${1}_${2#*:}.dsc"
  [ -f "$dsc" ] && (cd "$deps/src" && dsc_files "$dsc" | sha256sum -c --quiet >/dev/null 2>&1) && return 0
  mkdir -p "$deps/src"
  have_lists
  # Lists older than the system's -dev package (a point or security release since) lack its
  # version: they are brought up to date once, and the download tried again.
  (cd "$deps/src" && private_apt source --download-only "$name=$version" 2>/dev/null >&2) ||
    { refresh_lists && (cd "$deps/src" && private_apt source --download-only "$name=$version" >&2); } ||
    echo "windows_audio_libs: not every file of $name $version could be fetched" >&2
  [ -f "$dsc" ]
}

# OpenSSL releases of the installed one's series that are newer than it, newest first.
newer_openssl_sources() {  # installed version
  local series version
  series=$(cut -d. -f1-2 <<<"${1#*:}")
  have_lists
  APT_CONFIG=$(private_apt_config) apt-cache showsrc openssl 2>/dev/null | sed -n 's/^Version: //p' |
    sort -urV | while read -r version; do
      [[ "${version#*:}" == "$series".* ]] && dpkg --compare-versions "$version" gt "$1" && echo "$version"
    done
}

# Chooses, once for each installed version, the OpenSSL source to build (openssl_version).
choose_openssl() {  # the installed libssl-dev's source version
  local installed=$1 version
  [ -f "$deps/src/openssl-for-$installed" ] && return
  for version in "$installed" $(newer_openssl_sources "$installed"); do
    download_source openssl "$version" || continue
    [ "$version" = "$installed" ] ||
      echo "windows_audio_libs: the archive has no source of OpenSSL $installed, which the Linux" \
        "build links; building $version, the newest release of its series that it serves" >&2
    echo "$version" >"$deps/src/openssl-for-$installed"
    return
  done
  die "the archive serves no source of OpenSSL $installed, nor of a newer release of its series"
}

# Downloads the source package once into $deps/src and unpacks it there with Debian's patches.
# Where the archive serves the upstream tarball but not Debian's packaging (seen with
# libebur128 1.2.6-1), the checked upstream tarball alone is unpacked, and this says so.
fetch_source() {  # source package, version; prints the unpacked folder
  local name=$1 version=$2
  local dsc="$deps/src/${name}_${version#*:}.dsc" dir="$deps/src/$name-$version"
  if [ ! -d "$dir" ]; then
    download_source "$name" "$version" || die "no source package $name $version"
    rm -rf "$dir.tmp"
    if (cd "$deps/src" && dsc_files "$dsc" | sha256sum -c --quiet >/dev/null 2>&1); then
      dpkg-source -q --no-check -x "$dsc" "$dir.tmp" >&2 || die "dpkg-source -x $dsc failed"
    else
      local orig
      orig=$(dsc_files "$dsc" | awk '$2 ~ /\.orig\.tar\./ {print $2}')
      [ -n "$orig" ] && (cd "$deps/src" && dsc_files "$dsc" | grep -F " $orig" | sha256sum -c --quiet >&2) ||
        die "the upstream tarball of $name $version is missing or corrupt"
      echo "windows_audio_libs: WARNING: Debian's packaging of $name $version is missing;" \
        "building its checked upstream tarball $orig without Debian's patches" >&2
      mkdir -p "$dir.tmp"
      tar -xf "$deps/src/$orig" -C "$dir.tmp" --strip-components=1
    fi
    mv "$dir.tmp" "$dir"
  fi
  echo "$dir"
}

# libsndfile 1.2 builds its external codecs all together or not at all; this lets it link FLAC
# alone, which needs neither Ogg nor Vorbis nor Opus for plain .flac files.
patch_sndfile() {  # source folder
  grep -q ENABLE_FLAC_ONLY "$1/CMakeLists.txt" && return
  patch -s -d "$1" -p1 <<'EOF'
--- a/CMakeLists.txt
+++ b/CMakeLists.txt
@@ -21,6 +21,7 @@
 endif ()
 
 option (ENABLE_MPEG "Enable MPEG codecs" ON)
+option (ENABLE_FLAC_ONLY "FLAC as the only external codec: no Ogg, Vorbis or Opus" OFF)
 if (ENABLE_MPEG)
 	list (APPEND VCPKG_MANIFEST_FEATURES "mpeg")
 endif ()
@@ -93,6 +94,12 @@
 #
 
 include(SndFileChecks)
+if (ENABLE_FLAC_ONLY)
+	# FLAC's package asks for Ogg even when FLAC was built without it.
+	add_library (Ogg::ogg INTERFACE IMPORTED)
+	find_package (FLAC CONFIG REQUIRED)
+	set (ENABLE_EXTERNAL_LIBS OFF)
+endif ()
 
 if (ENABLE_EXTERNAL_LIBS AND NOT (Vorbis_FOUND OR FLAC_FOUND OR OPUS_FOUND))
 	set (ENABLE_EXTERNAL_LIBS OFF)
@@ -227,6 +234,9 @@
 	set (libdir "\$\{prefix\}/${CMAKE_INSTALL_LIBDIR}")
 	set (includedir "\$\{prefix\}/${CMAKE_INSTALL_INCLUDEDIR}")
 	set (VERSION ${PROJECT_VERSION})
+	if (ENABLE_FLAC_ONLY)
+		set (EXTERNAL_XIPH_REQUIRE "flac")
+	endif ()
 	if (ENABLE_EXTERNAL_LIBS)
 		set (EXTERNAL_XIPH_REQUIRE "flac ogg vorbis vorbisenc opus")
 		if (ENABLE_EXPERIMENTAL)
@@ -388,11 +398,12 @@
 		src
 		$<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}/src>
 	)
+target_compile_definitions (sndfile PRIVATE $<$<BOOL:${ENABLE_FLAC_ONLY}>:HAVE_FLAC_ONLY=1>)
 target_link_libraries (sndfile
 	PRIVATE
 		$<$<BOOL:${LIBM_REQUIRED}>:m>
 		$<$<BOOL:${HAVE_EXTERNAL_XIPH_LIBS}>:Vorbis::vorbisenc>
-		$<$<BOOL:${HAVE_EXTERNAL_XIPH_LIBS}>:FLAC::FLAC>
+		$<$<OR:$<BOOL:${HAVE_EXTERNAL_XIPH_LIBS}>,$<BOOL:${ENABLE_FLAC_ONLY}>>:FLAC::FLAC>
 		$<$<AND:$<BOOL:${ENABLE_EXPERIMENTAL}>,$<BOOL:${HAVE_EXTERNAL_XIPH_LIBS}>,$<BOOL:${HAVE_SPEEX}>>:Speex::Speex>
 		$<$<BOOL:${HAVE_EXTERNAL_XIPH_LIBS}>:Opus::opus>
 		$<$<BOOL:${HAVE_MPEG}>:MPG123::libmpg123>
--- a/src/flac.c
+++ b/src/flac.c
@@ -29,7 +29,7 @@
 #include	"sndfile.h"
 #include	"common.h"
 
-#if HAVE_EXTERNAL_XIPH_LIBS
+#if HAVE_EXTERNAL_XIPH_LIBS || HAVE_FLAC_ONLY
 
 #include	<FLAC/stream_decoder.h>
 #include	<FLAC/stream_encoder.h>
EOF
}

# Debian's pic patch makes OpenSSL's 32-bit x86 assembly position-independent the ELF way
# (through the GOT and the PLT), which a Windows (COFF) object cannot hold: the Windows builds
# take that one patch back out and keep the assembly. The x86-64 assembly does not use it.
unpatch_openssl() {  # source folder
  local pic="$1/debian/patches/pic.patch"
  [ -f "$pic" ] && patch -R -s -f --dry-run -d "$1" -p1 <"$pic" >/dev/null 2>&1 || return 0
  patch -R -s -d "$1" -p1 <"$pic" || die "taking Debian's pic.patch out of $1 failed"
}

# Each library: its configure options beyond the common ones. Only the libraries are built: no
# programs, tests, examples or documents.
#
# FLAC: no Ogg container (libsndfile reads plain .flac), and no stack protector or fortify,
# which would make the programs need libssp's DLL.
# libsoxr: no OpenMP (a DLL, and the channels' results do not depend on it) and only its
# portable engines. With its SIMD engines built in, libsoxr picks one at run time from the CPU
# (AVX for the very-high-quality engine) or the SOXR_USE_SIMD* variables, and the SIMD engines
# round differently, so the same input would give other samples on another machine; without
# them the result is the same on every machine, and equals the Linux build's when that runs
# its library with SOXR_USE_SIMD=0.
configure_options() {  # source package
  case $1 in
    flac) echo -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
      -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_OGG=OFF -DWITH_STACK_PROTECTOR=OFF \
      -DWITH_FORTIFY_SOURCE=OFF ;;
    libsndfile) echo -DENABLE_FLAC_ONLY=ON -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF \
      -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_CPACK=OFF \
      -DENABLE_PACKAGE_CONFIG=OFF -DINSTALL_MANPAGES=OFF -DCMAKE_DISABLE_FIND_PACKAGE_ALSA=ON \
      -DCMAKE_DISABLE_FIND_PACKAGE_Speex=ON -DCMAKE_DISABLE_FIND_PACKAGE_SQLite3=ON ;;
    libsoxr) echo -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF \
      -DWITH_CR32S=OFF -DWITH_CR64S=OFF -DWITH_PFFFT=OFF -DWITH_AVFFT=OFF ;;
    libebur128) echo -DENABLE_TESTS=OFF ;;
  esac
}

# The one target each package must build; FLAC's others are the helpers of its programs.
library_target() {  # source package
  case $1 in flac) echo FLAC ;; libsndfile) echo sndfile ;; libsoxr) echo soxr ;; libebur128) echo ebur128 ;; esac
}

# Debian's libsodium source is the upstream git tree without a configure script; Debian's
# packaging makes it with autoreconf (dh --with autoreconf), and so does this, once, before
# both targets' builds.
autoreconf_sodium() {  # source folder
  [ -x "$1/configure" ] && return
  command -v autoreconf >/dev/null || die "no autoreconf (scripts/deps.sh all installs it)"
  (cd "$1" && autoreconf -fi) >"$deps/src/libsodium-autoreconf.log" 2>&1 ||
    { tail -20 "$deps/src/libsodium-autoreconf.log"; die "autoreconf of libsodium failed"; }
}

# libsodium builds with its own configure script. --enable-minimal leaves out what qs71prog
# never calls (Ed25519 signing and its checks stay in); no stack protector, which would need
# libssp's DLL; SODIUM_STATIC in its .pc file, so that its header does not declare the calls
# as imports from a DLL.
build_sodium() {  # triple, source folder, build folder, prefix
  local cc="$1-gcc-posix"
  [ -n "${CCACHE:-}" ] && cc="ccache $cc"
  mkdir -p "$3"
  (cd "$3" && "$2/configure" --host="$1" CC="$cc" CFLAGS="-O2" --prefix="$4" \
     --disable-shared --enable-static --enable-minimal --disable-ssp --disable-dependency-tracking --without-pthreads &&
   make -j "$jobs" install) >"$3.log" 2>&1 || return 1
  sed -i 's|^Cflags: \(.*\)$|Cflags: \1 -DSODIUM_STATIC|' "$4/lib/pkgconfig/libsodium.pc"
}

# Debian's SQLite source is the upstream tree, not the one-file amalgamation; its own build
# generates sqlite3.c and sqlite3.h from it with native tools (lemon, tclsh). That is done once
# here with a native configure, since the file is the same for every target, and each target
# then compiles the one file: far quicker than a configure per target. The parser is generated
# with the feature flags below, as Debian's build does, so that the same SQL parses on both.
amalgamate_sqlite() {  # source folder
  local out="$1/amalgamation"
  [ -f "$out/sqlite3.c" ] && [ "$(cat "$out/options" 2>/dev/null)" = "$(sqlite_options)" ] && return
  command -v tclsh >/dev/null || die "no tclsh, which makes SQLite's amalgamation (scripts/deps.sh all installs tcl)"
  rm -rf "$out" "$out.tmp"
  mkdir -p "$out.tmp"
  local log="$deps/src/sqlite3-amalgamation.log"
  (cd "$out.tmp" && "$1/configure" --disable-shared --disable-tcl --disable-readline \
     CFLAGS="-O2 $(sqlite_options)" && make -j "$jobs" sqlite3.c sqlite3.h) >"$log" 2>&1 ||
    { tail -20 "$log"; die "making SQLite's amalgamation failed (log: $log)"; }
  mkdir -p "$out"
  cp "$out.tmp/sqlite3.c" "$out.tmp/sqlite3.h" "$out.tmp/sqlite3ext.h" "$out"
  sqlite_options >"$out/options"
  rm -rf "$out.tmp"
}

# The compile-time options of Debian's libsqlite3 that change what SQL or the C API does, so
# that the trace behaves on Windows as on Linux: deleted rows overwritten, LIKE never matching a
# blob, URI file names, the math and soundex functions, the column metadata calls,
# DELETE/UPDATE ... LIMIT, Debian's limits.
# Serialized threading (SQLITE_THREADSAFE=1, on Windows with its own mutexes: no pthread DLL).
# Debian's extensions that the trace does not use (full-text search, R-tree, sessions and the
# like) stay out; name one here if the trace ever needs it.
sqlite_options() {
  echo -DSQLITE_THREADSAFE=1 -DSQLITE_SECURE_DELETE -DSQLITE_LIKE_DOESNT_MATCH_BLOBS \
    -DSQLITE_USE_URI=1 -DSQLITE_ENABLE_MATH_FUNCTIONS -DSQLITE_ENABLE_COLUMN_METADATA \
    -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 -DSQLITE_ALLOW_ROWID_IN_VIEW -DSQLITE_MAX_SCHEMA_RETRY=25 \
    -DSQLITE_MAX_VARIABLE_NUMBER=250000 -DSQLITE_SOUNDEX=1
}

# The amalgamation compiled into libsqlite3.a, with its headers and its own .pc template filled
# in; on Windows it needs no library beyond the system's.
build_sqlite() {  # triple, source folder, build folder, prefix
  local cc=("$1-gcc-posix") version
  version=$(cat "$2/VERSION")
  [ -n "${CCACHE:-}" ] && cc=(ccache "$1-gcc-posix")
  mkdir -p "$3" "$4/lib/pkgconfig" "$4/include"
  # shellcheck disable=SC2046  # the options are words
  (cd "$3" && "${cc[@]}" -O2 -DNDEBUG -fno-strict-aliasing $(sqlite_options) \
     -c "$2/amalgamation/sqlite3.c" -o sqlite3.o && rm -f libsqlite3.a && "$1-ar" rcs libsqlite3.a sqlite3.o) \
    >"$3.log" 2>&1 || return 1
  cp "$3/libsqlite3.a" "$4/lib/"
  cp "$2/amalgamation/sqlite3.h" "$2/amalgamation/sqlite3ext.h" "$4/include/"
  # shellcheck disable=SC2016  # ${prefix} and ${exec_prefix} are the .pc file's own
  sed -e "s|@prefix@|$4|" -e 's|@exec_prefix@|${prefix}|' -e 's|@libdir@|${exec_prefix}/lib|' \
    -e 's|@includedir@|${prefix}/include|' -e "s|@PACKAGE_VERSION@|$version|" -e 's|@LIBS@||' \
    "$2/sqlite3.pc.in" >"$4/lib/pkgconfig/sqlite3.pc"
}

# OpenSSL's Configure options: static, with no loadable engines or providers (no-module); its
# own mingw targets (no stack protector, whose DLL a bare Windows lacks); the security level of
# Debian's targets, so that a weak server certificate the Linux station refuses is refused here
# too. TLS 1.2 and 1.3, X.509 and PEM, RSA, ECDSA on the prime curves, Ed25519, DH, AES,
# ChaCha20-Poly1305, 3DES (encrypted PEM keys) and the SHA-2 and MD5 digests (SCRAM, md5
# sign-on) stay in. Left out is what a libpq client never reaches, about a fifth of the
# library's objects, which shortens a cold build by as much: the legacy provider (MD4, RC2,
# RC4, Blowfish, CAST, SEED; only PKCS#12 files and old protocols use them) and the ciphers
# and digests of no TLS suite a PostgreSQL server prefers (ARIA, Camellia, SM2/3/4,
# RIPEMD-160, Whirlpool, GOST, SipHash), binary-field curves, engines (libpq's "engine:" key
# names are the only use), DTLS and SRTP, SRP, certificate transparency, OCSP, CMS, time
# stamps and CMP, and RFC 3779 address extensions (Debian enables them; only RPKI
# certificates carry them).
openssl_options() {  # triple
  local target=mingw
  [ "${1%%-*}" = x86_64 ] && target=mingw64
  echo "$target" no-shared no-module no-tests no-zlib no-comp no-ssl3 no-ssl3-method no-capieng \
    no-rdrand no-legacy no-md4 no-mdc2 no-rc2 no-rc4 no-rc5 no-idea no-bf no-cast no-seed no-aria \
    no-camellia no-sm2 no-sm3 no-sm4 no-rmd160 no-whirlpool no-gost no-siphash no-ec2m no-engine \
    no-dtls no-srtp no-sctp no-srp no-ct no-ocsp no-cms no-ts no-cmp -DOPENSSL_TLS_SECURITY_LEVEL=2
}

# OpenSSL reads its configuration file (libpq asks it to), and would load engines and
# providers, from folders fixed when it is built. Left alone they would be the build's prefix,
# a path that on Windows any user may create on the current drive; they are put below
# C:\Program Files, which every Windows has and only an administrator can change.
openssl_folders() {
  local dir="C:/Program Files/Common Files/SSL"
  printf '%s\n' "OPENSSLDIR=$dir" "ENGINESDIR=$dir/engines-3" "MODULESDIR=$dir/ossl-modules"
}

# Only the two libraries, their headers and .pc files: no programs, tests or documents.
build_openssl() {  # triple, source folder, build folder, prefix
  local cc="$1-gcc-posix" folders
  [ -n "${CCACHE:-}" ] && cc="ccache $cc"
  mapfile -t folders < <(openssl_folders)
  mkdir -p "$3"
  # shellcheck disable=SC2046  # the options are words
  (cd "$3" && CC="$cc" AR="$1-ar" RANLIB="$1-ranlib" RC="$1-windres" CFLAGS=-O2 \
     perl "$2/Configure" $(openssl_options "$1") --prefix="$4" --libdir=lib &&
   make -j "$jobs" build_libs "${folders[@]}" && make install_dev) >"$3.log" 2>&1
}

# libpq's objects (its OBJS, without the DLL's version resource), as its Makefile lists them.
libpq_objects() {  # libpq's build folder
  # shellcheck disable=SC2016  # the variables are make's
  printf 'qs71-objects:\n\t@echo $(filter-out $(WIN32RES),$(OBJS))\n' |
    make -s -C "$1" -f Makefile -f - qs71-objects
}

# libpq on Windows brings a few pthread calls of its own (pthread-win32.c), which its DLL keeps
# to itself. Linked statically they would clash with winpthreads, which the programs' threads
# bring and whose types differ: they are renamed pq_pthread_* throughout libpq.a.
rename_libpq_pthreads() {  # triple, libpq's build folder, libpq.a
  "$1-nm" -g --defined-only "$2/pthread-win32.o" | awk '{print $3}' |
    sed -E 's/^(_?)(pthread_.*)$/\1\2 \1pq_\2/' >"$2/pthread-names" &&
    [ -s "$2/pthread-names" ] && "$1-objcopy" --redefine-syms="$2/pthread-names" "$3"
}

# libpq alone from PostgreSQL's tree, against the OpenSSL just built: configure, the headers it
# generates, the client builds of its port and common libraries and libpq's own objects, none
# of the server. PostgreSQL makes a Windows libpq only as a DLL (its libpq.a is the DLL's import
# library), so the objects are archived here into a static libpq.a, and the two helper
# libraries installed under the names its .pc file links. Debian's libpq5 also has GSSAPI and
# LDAP, which a station's trace does not use and a bare Windows does not have; readline, zlib
# and ICU are not libpq's.
build_libpq() {  # triple, source folder, build folder, prefix
  local cc="$1-gcc-posix" libpq="$3/src/interfaces/libpq" objects crypto
  [ -n "${CCACHE:-}" ] && cc="ccache $cc"
  # What the static libcrypto needs, for configure's test links.
  crypto=$(PKG_CONFIG_LIBDIR="$4/lib/pkgconfig" pkg-config --static --libs-only-l libcrypto) || return 1
  mkdir -p "$3"
  (cd "$3" && "$2/configure" --host="$1" CC="$cc" CFLAGS=-O2 CPPFLAGS="-I$4/include" \
     LDFLAGS="-L$4/lib" LIBS="$crypto" --prefix="$4" --with-ssl=openssl --without-readline \
     --without-zlib --without-icu --without-gssapi --without-ldap &&
   make -C src/backend generated-headers && make -C src/port -j "$jobs" libpgport_shlib.a &&
   make -C src/common -j "$jobs" libpgcommon_shlib.a) >"$3.log" 2>&1 || return 1
  objects=$(libpq_objects "$libpq") || return 1
  # shellcheck disable=SC2086  # the objects are words
  (make -C "$libpq" -j "$jobs" $objects libpq.pc && cd "$libpq" && "$1-ar" rcs "$4/lib/libpq.a" $objects) \
    >>"$3.log" 2>&1 || return 1
  rename_libpq_pthreads "$1" "$libpq" "$4/lib/libpq.a" || return 1
  cp "$3/src/common/libpgcommon_shlib.a" "$4/lib/libpgcommon.a"
  cp "$3/src/port/libpgport_shlib.a" "$4/lib/libpgport.a"
  cp "$2/src/interfaces/libpq/libpq-fe.h" "$2/src/interfaces/libpq/libpq-events.h" \
    "$2/src/include/postgres_ext.h" "$3/src/include/pg_config_ext.h" "$4/include/"
  cp "$libpq/libpq.pc" "$4/lib/pkgconfig/"
}

build_library() {  # triple, source package, version, source folder
  local triple=$1 name=$2 version=$3 src=$4 build="$deps/$1/build/$2" prefix="$deps/$1/prefix"
  local toolchain="$top/cmake/mingw-${triple%%-*}.cmake"
  local start=$SECONDS cpu now
  cpu_seconds cpu
  rm -rf "$build"
  mkdir -p "$deps/$triple/build"
  local own=""
  case $name in
    libsodium) own=build_sodium ;; sqlite3) own=build_sqlite ;; openssl) own=build_openssl ;;
    postgresql-15) own=build_libpq ;;
  esac
  if [ -n "$own" ]; then
    "$own" "$triple" "$src" "$build" "$prefix" ||
      { tail -30 "$build.log"; die "$name for $triple failed (log: $build.log)"; }
    cpu_seconds now
    echo "== windows_audio_libs: $name $version for $triple ($((SECONDS - start)) s, $((now - cpu)) s CPU)"
    return
  fi
  # shellcheck disable=SC2046  # the options are words
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib -DLIB_INSTALL_DIR="$prefix/lib" \
    -DBUILD_SHARED_LIBS=OFF -Wno-dev $(configure_options "$name") \
    ${CCACHE:+-DCMAKE_C_COMPILER_LAUNCHER=ccache} >"$build.log" 2>&1 &&
    cmake --build "$build" -j "$jobs" --target "$(library_target "$name")" >>"$build.log" 2>&1 &&
    cmake --install "$build" >>"$build.log" 2>&1 || { tail -30 "$build.log"; die "$name for $triple failed (log: $build.log)"; }
  cpu_seconds now
  echo "== windows_audio_libs: $name $version for $triple ($((SECONDS - start)) s, $((now - cpu)) s CPU)"
}

# In a prefix of static libraries what a library needs to link is part of its public need:
# CMake's pkg_check_modules(IMPORTED_TARGET) reads Libs and Requires only. The prefix is named
# relative to the .pc file (pkg-config's pcfiledir), so that it works in any clone it is
# unpacked into from the cache.
static_pkg_config() {  # prefix
  local pc text
  for pc in "$1"/lib/pkgconfig/*.pc; do
    text=$(<"$pc")
    # shellcheck disable=SC2016  # pcfiledir is pkg-config's
    printf '%s\n' "${text//"$1"/'${pcfiledir}/../..'}" >"$pc"
    awk -F': *' '
      /^Requires(\.private)?:/ { requires = requires " " $2; next }
      /^Libs\.private:/ { private = private " " $2; next }
      /^Libs:/ { libs = $0; next }
      { print }
      END { print "Requires:" requires; print libs private }' "$pc" >"$pc.tmp" && mv "$pc.tmp" "$pc"
  done
}

# libsoxr installs no .pc file for Windows; this one is its own template filled in.
soxr_pkg_config() {  # prefix, source folder, version
  sed -e 's/${PROJECT_NAME}/soxr/g' -e 's/${DESCRIPTION_SUMMARY}/High quality, one-dimensional sample-rate conversion library/' \
    -e "s|\${PROJECT_VERSION}|$3|" -e "s|\${LIB_INSTALL_DIR}|$1/lib|" -e "s|\${INCLUDE_INSTALL_DIR}|$1/include|" \
    "$2/src/soxr.pc.in" >"$1/lib/pkgconfig/soxr.pc"
}

up_to_date() {  # triple
  [ -f "$deps/$1/prefix/stamp" ] && [ "$(cat "$deps/$1/prefix/stamp")" = "$(recipe_stamp)" ]
}

build_triple() {  # triple
  local triple=$1 prefix="$deps/$1/prefix" entry name version src built=() start=$SECONDS cpu now
  cpu_seconds cpu
  rm -rf "$prefix"
  for entry in "${packages[@]}"; do
    name=${entry%%:*}
    version=$(build_version "$name" "${entry#*:}")
    built+=("$name $version")
    src="$deps/src/$name-$version"
    build_library "$triple" "$name" "$version" "$src"
    [ "$name" = libsoxr ] && soxr_pkg_config "$prefix" "$src" "${version%-*}"
  done
  rm -rf "${prefix:?}/bin" "$prefix/doc" "$prefix/share" "$prefix/include/FLAC++" "$prefix/lib/cmake"
  rm -f "$prefix"/lib/*.la
  static_pkg_config "$prefix"
  ! grep -rlF "$prefix" "$prefix/lib/pkgconfig" "$prefix/include" ||
    die "these files of the prefix for $triple name its folder, which a cached copy would not be in"
  printf '%s\n' "${built[@]}" >"$prefix/versions"
  recipe_stamp >"$prefix/stamp"
  cpu_seconds now
  echo "== windows_audio_libs: $triple built ($((SECONDS - start)) s, $((now - cpu)) s CPU)"
  to_cache "$triple"
}

# Finished prefixes, kept between clones of the machine.
cache_dir=${QS71_WIN_DEPS_CACHE:-$HOME/.cache/qs71/win-deps}
cache_file() {  # triple
  echo "$cache_dir/$1-$(recipe_stamp | sha256sum | cut -c1-64).tar.xz"
}

# Unpacks the cached prefix of the current stamp; false when there is none, or it is damaged
# (then it is built, and the cache written anew).
from_cache() {  # triple
  local file prefix="$deps/$1/prefix" unpacked="$deps/$1/prefix.cached"
  file=$(cache_file "$1")
  [ -f "$file" ] || return 1
  rm -rf "$unpacked"
  mkdir -p "$unpacked"
  if tar -xJf "$file" -C "$unpacked" 2>/dev/null && [ -f "$unpacked/versions" ] &&
     [ "$(cat "$unpacked/stamp" 2>/dev/null)" = "$(recipe_stamp)" ]; then
    rm -rf "$prefix"
    mv "$unpacked" "$prefix"
    return 0
  fi
  rm -rf "$unpacked"
  echo "windows_audio_libs: WARNING: $file is damaged or of another recipe; building instead" >&2
  return 1
}

# Keeps a finished prefix in the cache: written under a temporary name and renamed, so that a
# build beside this one never unpacks half a file. A cache that cannot be written costs the
# next clone a build, never this one its result.
to_cache() {  # triple
  local file part
  file=$(cache_file "$1")
  part="$file.$$.part"
  if mkdir -p "$cache_dir" 2>/dev/null && XZ_OPT=-3 tar -cJf "$part" -C "$deps/$1/prefix" . 2>/dev/null &&
     mv -f "$part" "$file" 2>/dev/null; then
    echo "== windows_audio_libs: $1 kept in $file"
  else
    rm -f "$part" 2>/dev/null
    echo "windows_audio_libs: WARNING: $1's libraries could not be kept in $file;" \
      "a new clone will build them again" >&2
  fi
}

[ $# -gt 0 ] || die "usage: $0 TRIPLE..."
command -v ccache >/dev/null && CCACHE=1
stale=()
for triple in "$@"; do
  command -v "$triple-gcc-posix" >/dev/null || die "no $triple-gcc-posix (scripts/deps.sh all)"
  start=$SECONDS
  if up_to_date "$triple"; then
    echo "== windows_audio_libs: $triple up to date ($(built_versions "$triple"))"
  elif from_cache "$triple"; then
    echo "== windows_audio_libs: $triple from $(cache_file "$triple") ($((SECONDS - start)) s;" \
      "$(built_versions "$triple"))"
  else
    stale+=("$triple")
  fi
done
[ ${#stale[@]} -gt 0 ] || exit 0
for entry in "${packages[@]}"; do
  [ "${entry%%:*}" = openssl ] && choose_openssl "$(source_version "${entry#*:}")"
  src=$(fetch_source "${entry%%:*}" "$(build_version "${entry%%:*}" "${entry#*:}")")
  [ "${entry%%:*}" = libsndfile ] && patch_sndfile "$src"
  [ "${entry%%:*}" = libsodium ] && autoreconf_sodium "$src"
  [ "${entry%%:*}" = sqlite3 ] && amalgamate_sqlite "$src"
  [ "${entry%%:*}" = openssl ] && unpatch_openssl "$src"
done
# The targets side by side: CMake's configure checks run one at a time, so two of them keep
# both cores busy.
pids=()
for triple in "${stale[@]}"; do
  build_triple "$triple" &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
