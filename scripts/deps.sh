#!/usr/bin/env bash
# Installs, only when missing, the Debian packages that building and testing qs71 need.
# Usage: scripts/deps.sh [base|all]   (all adds what the Windows, hardening and browser runs need)
set -euo pipefail

# help2man writes the man pages from each program's --help at build time; strace watches the
# order of the sync and rename calls that make an output durable. libsoxr, libebur128 and
# libsndfile resample, measure and read the recordings that qs71gen prepares; sox is the
# reference the bench measures the preparation against.
base=(g++ cmake ninja-build pkg-config bison libhidapi-dev libgtest-dev libgmock-dev help2man strace tmux
      libsoxr-dev libebur128-dev libsndfile1-dev sox)
# libsodium signs and checks qs71prog's job files (Ed25519).
base+=(libsodium-dev)
# SQLite holds a station's production trace; libpq reaches a line's PostgreSQL trace, and the
# tests start a server of their own from the postgresql package.
base+=(libsqlite3-dev sqlite3 libpq-dev postgresql)
# toml++ reads qs71gen's project files; it is used header-only, on Windows too.
base+=(libtomlplusplus-dev)
# cpp-httplib serves qs71gen --serve's page on 127.0.0.1; Debian ships it as a shared library
# with a header of declarations, so the page server needs no server of our own making.
base+=(libcpp-httplib-dev)
# The sanitizer and fuzz runs need clang and its runtime; the Windows target needs the
# mingw-w64 cross compilers and Wine (32-bit Wine comes from the i386 architecture); the
# package checks need dpkg-shlibdeps for the .deb's Depends and debootstrap for a Debian 12
# root to install it into.
# ccache lets the package stage reuse the main stage's objects (the same compiler and flags).
extra=(ccache clang libclang-rt-14-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
       binutils-mingw-w64-i686 wine wine64 wine32:i386 dpkg-dev debootstrap)
# Debian's libsodium source has no configure script: the Windows cross-build makes it as
# Debian's packaging does, with autoreconf.
extra+=(autoconf automake libtool)
# Debian's SQLite source is the full tree: the Windows cross-build makes its one-file
# amalgamation with the tclsh scripts SQLite generates it with.
extra+=(tcl)

# The browser stage opens the image pages in Debian's own chromium, driven by playwright-core
# from npm; no browser is downloaded. npm is its own package on Debian but comes with the
# nodejs of other sources, which Debian's npm would conflict with: it is asked for only when
# missing.
browser=(chromium nodejs)

wanted=("${base[@]}")
[ "${1:-base}" = all ] && wanted+=("${extra[@]}" "${browser[@]}")
missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "${1:-base}" = all ] && ! command -v npm >/dev/null; then
  missing+=(npm)
fi
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
