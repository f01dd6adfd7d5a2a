#!/usr/bin/env bash
# Builds the packages and checks what they hold and that they work once installed:
#   qs71_<version>_<arch>.deb   from build-package/ (prefix /usr, no tests; -O2 -g, stripped
#                               when packed, as Debian builds its packages)
#   qs71-<version>-win32.zip    from build-win/   (the Windows stage's 32-bit cross-build)
#   qs71-<version>-win64.zip    from build-win64/ (its 64-bit cross-build)
# all three in build-package/packages/.
#
# The .deb: its control fields and files against the expected set; unpacked into a scratch
# folder, every program's --version and the demo compiled, dumped and written on the emulated
# programmer from there (the library found through qs71prog's run path, with no loader cache);
# then installed with apt into a throw-away Debian 12 root made by debootstrap (kept, pristine,
# in build-package/debian12/ for the next run): the dependencies resolve, the maintainer
# scripts run, the programs work, the package removes cleanly. Where debootstrap cannot make
# the root, `apt-get install --simulate` stands in for the installation, and says so.
# Each zip: its entries against the expected set, each binary of the right architecture and
# importing only the system DLLs it may (scripts/windows_imports.sh), and the zip that Wine can
# run here unpacked and used as a Windows user would.
#
# Ends with "N passed, M failed"; any failure makes the exit status 1.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
pkgbuild="$top/build-package"
out="$pkgbuild/packages"
work="$pkgbuild/check"
passes=0
failures=0
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; passes=$((passes + 1)); }
# check DESCRIPTION COMMAND...: a pass when the command succeeds, a failure otherwise.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; return 1; fi
}
quietly() {  # log file, command...: its output kept in the log, shown only when it fails
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { tail -5 "$log"; return 1; }
}
same_lines() {  # label, expected file, actual file: equal, or the difference shown
  diff -u "$2" "$3" >"$3.diff" && return 0
  echo "$1: expected (-) and found (+):"
  grep -E '^[-+][^-+]' "$3.diff"
  return 1
}

# ---------------------------------------------------------------------------------------------
# Building

build_deb() {
  echo "== package: the .deb (build-package)"
  cmake -S "$top" -B "$pkgbuild" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DQS71_TESTS=OFF -DQS71_WERROR=ON >/dev/null &&
    cmake --build "$pkgbuild" -j "$jobs" &&
    cpack --config "$pkgbuild/CPackConfig.cmake" -G DEB -B "$out" >"$pkgbuild/cpack-deb.log"
}

# The Windows stage's cross-build folders, configured as it configures them, built whole.
build_zip() {  # build dir, toolchain file
  echo "== package: the zip ($1)"
  cmake -S "$top" -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$2" -DQS71_WERROR=ON \
    >/dev/null &&
    cmake --build "$1" -j "$jobs" &&
    cpack --config "$1/CPackConfig.cmake" -G ZIP -B "$out" >"$1/cpack-zip.log"
}

# ---------------------------------------------------------------------------------------------
# What the packages must hold

kit_folders() {  # prefix: the guides' and the example project's files below it
  (cd "$top" && find docs examples -type f | sort | sed "s|^|$1|")
}

expected_deb_files() {
  local multiarch=$1
  {
    printf '%s\n' usr/bin/qs71gen usr/bin/qs71prog usr/bin/qs71dump \
      usr/include/qs71_usb_writer.h usr/include/qs71_usb_writer_binding.h \
      usr/include/qs71_emulator_control.h \
      "usr/lib/$multiarch/libqs71_usb_writer.so" "usr/lib/$multiarch/libqs71_usb_writer_emulated.so" \
      "usr/lib/$multiarch/libqs71gen_http.so" \
      usr/lib/udev/rules.d/70-qs71-programmer.rules \
      usr/share/man/man1/qs71gen.1 usr/share/man/man1/qs71prog.1 usr/share/man/man1/qs71dump.1 \
      usr/share/doc/qs71/README.md
    kit_folders usr/share/doc/qs71/
  } | sort
}

# qs71prog.exe links libpq and OpenSSL statically, as the programs do their other libraries:
# no DLL of theirs goes beside it.
expected_zip_entries() {  # top folder
  {
    printf "$1/%s\n" qs71gen.exe qs71prog.exe qs71dump.exe qs71_usb_writer.dll \
      qs71_usb_writer_emulated.dll README.md include/qs71_usb_writer.h \
      include/qs71_usb_writer_binding.h include/qs71_emulator_control.h
    kit_folders "$1/"
  } | sort
}

# ---------------------------------------------------------------------------------------------
# The .deb

check_deb_control() {  # deb
  local deb=$1 arch field value
  arch=$(dpkg --print-architecture)
  for field in "Package=qs71" "Version=$version" "Architecture=$arch"; do
    value=$(dpkg-deb -f "$deb" "${field%%=*}")
    check "control field ${field%%=*} is ${field#*=} (found '$value')" [ "$value" = "${field#*=}" ]
  done
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  for package in libhidapi-hidraw0 libc6 libstdc++6 libsoxr0 libebur128-1 libsndfile1 "$(httplib_package)"; do
    check "Depends names $package" \
      grep -qxF "$package" < <(sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends")
  done
  local members
  members=$(dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - | awk '{print $1, $NF}')
  for script in postinst postrm; do
    check "control member $script, executable" grep -qE "^-rwxr-xr-x \./$script$" <<<"$members"
  done
  check "control member triggers runs ldconfig" \
    bash -c "dpkg-deb --ctrl-tarfile '$deb' | tar -xOf - ./triggers | grep -qx 'activate-noawait ldconfig'"
}

# The package of the cpp-httplib this machine builds with (its name carries the version).
httplib_package() {
  dpkg -S "$(pkg-config --variable=libdir cpp-httplib)/libcpp-httplib.so.*" 2>/dev/null | sed -n '1s/:.*//p'
}

# qs71gen --serve opens its HTTP module from the package's library folder and serves; the
# server is ended after 2 s. It runs in the examples folder, whose wave files the demo names.
check_serve() {  # label, a command that runs its arguments in the examples folder, qs71gen, a scratch folder
  local label=$1 run=$2 gen=$3 tmp=$4 port=$((20000 + RANDOM % 20000)) text
  text=$($run env TMPDIR="$tmp" timeout 2 "$gen" --serve "$port" demo.qs "$tmp/served.bin" 2>&1 >/dev/null |
    tr -d '\r' | head -1)
  check "$label: qs71gen --serve opens its HTTP module and serves ('$text')" \
    grep -q "^qs71gen: serving the page on http://127.0.0.1:$port/" <<<"$text"
}

check_deb_files() {  # deb
  local multiarch
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  expected_deb_files "$multiarch" >"$work/deb-expected.txt"
  dpkg-deb -c "$1" | grep -v '^d' | awk '{print $NF}' | sed 's|^\./||' | sort >"$work/deb-files.txt"
  check "the .deb holds exactly the expected files" \
    same_lines ".deb files" "$work/deb-expected.txt" "$work/deb-files.txt"
}

# The programs of a root (a scratch folder or a chroot), run by RUNNER FOLDER PROGRAM ARGS...
# with folders as the root sees them. The demo project is compiled where it was installed: its
# wave files are named relative to the current folder.
check_programs() {  # label, runner, the installed examples folder, a scratch folder
  local label=$1 run=$2 examples_dir=$3 tmp=$4 program text
  for program in qs71gen qs71prog qs71dump; do
    text=$($run "$tmp" "$program" --version | tr -d '\r' | head -1)
    check "$label: $program --version says '$program $version' (said '$text')" \
      [ "$text" = "$program $version" ]
  done
  text=$($run "$tmp" qs71prog --version | tr -d '\r' | sed -n 2p)
  check "$label: qs71prog --version names the libpq and OpenSSL it runs with ('$text')" \
    grep -Eqx 'libpq [0-9]+\.[0-9]+, OpenSSL [0-9]+\.[0-9]+\.[0-9]+' <<<"$text"
  text=$($run "$examples_dir" qs71gen demo.qs "$tmp/demo.bin" | tr -d '\r' | grep '^Complete with')
  check "$label: qs71gen compiles the installed demo project ('$text')" \
    grep -q "^Complete with 0 Errors" <<<"$text"
  # Sound preparation needs the resampling, loudness and file libraries of the package's Depends.
  text=$($run "$examples_dir" qs71gen --resample --loudness -16 demo.qs "$tmp/demo-prepared.bin" |
    tr -d '\r' | grep '^Complete with')
  check "$label: qs71gen --resample --loudness -16 compiles the installed demo project ('$text')" \
    grep -q "^Complete with 0 Errors" <<<"$text"
  check "$label: qs71dump reads the demo image" \
    quietly "$work/$label-dump.log" $run "$tmp" qs71dump demo.bin
  check "$label: qs71prog writes and verifies the demo image on the emulated programmer" \
    quietly "$work/$label-prog.log" $run "$tmp" qs71prog --emulate=demo-chip.otp --write demo.bin
}

in_folder() {  # folder, command...
  (cd "$1" && shift && "$@")
}

scratch_run() {  # folder, program, arguments
  local dir=$1 program=$2
  shift 2
  in_folder "$dir" "$scratch/usr/bin/$program" "$@"
}

unpacked_examples() { in_folder "$scratch/usr/share/doc/qs71/examples" "$@"; }
installed_examples() { chroot_run /usr/share/doc/qs71/examples "$@"; }

check_deb_unpacked() {  # deb
  scratch="$work/unpacked"
  rm -rf "$scratch" "$work/demo-chip.otp"
  dpkg-deb -x "$1" "$scratch"
  echo "== package: the .deb unpacked into $scratch"
  check_programs unpacked scratch_run "$scratch/usr/share/doc/qs71/examples" "$work"
  # The programmer library comes from the unpacked tree, found through the run path: the
  # loader says which file it initialised.
  local loaded
  loaded=$(cd "$work" && rm -f demo-chip.otp && env -u LD_LIBRARY_PATH LD_DEBUG=libs \
    "$scratch/usr/bin/qs71prog" --emulate=demo-chip.otp --identify 2>&1 >/dev/null |
    sed -n 's/.*calling init: \(.*libqs71_usb_writer_emulated\.so\)$/\1/p' | head -1)
  check "unpacked: qs71prog loads the library of its own tree ($loaded)" \
    [ "$(realpath -m "$loaded")" = "$scratch/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/libqs71_usb_writer_emulated.so" ]
  check_serve unpacked unpacked_examples "$scratch/usr/bin/qs71gen" "$work"
  check "unpacked: man qs71gen finds the page" \
    bash -c "man --manpath='$scratch/usr/share/man' -w qs71gen | grep -qx '$scratch/usr/share/man/man1/qs71gen.1'"
}

# A Debian 12 root, made once and kept pristine in build-package/debian12; each check works on
# a copy. Making it is mostly download and unpacking, so it runs while the packages build.
pristine="$pkgbuild/debian12"
make_pristine_root() {
  [ -f "$pristine/.complete" ] && return 0
  command -v debootstrap >/dev/null || { echo "debootstrap is not installed"; return 1; }
  # A debootstrap that was cut short may have left the machine's /proc or /sys mounted there.
  umount "$pristine/proc" "$pristine/sys" 2>/dev/null
  rm -rf --one-file-system "$pristine"
  timeout 600 debootstrap --variant=minbase bookworm "$pristine" http://deb.debian.org/debian &&
    timeout 300 chroot "$pristine" apt-get update -qq && touch "$pristine/.complete"
}

debian_root() {  # the pid of make_pristine_root
  echo "== package: the Debian 12 root (made once by debootstrap, kept in $pristine)"
  wait "$1" || { tail -5 "$pkgbuild/debootstrap.log"; return 1; }
  cp -a "$pristine" "$root"
}

# Nothing of the machine stays mounted in the root, so that removing it removes only its own.
release_root() {
  [ -n "${root:-}" ] && mountpoint -q "$root/proc" && umount "$root/proc"
  return 0
}

chroot_run() {  # folder, program, arguments: as scratch_run, inside the root
  chroot "$root" /usr/bin/env PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    sh -c 'cd "$1" && shift && exec "$@"' sh "$@"
}

check_deb_installed() {  # deb
  local deb=$1 name
  name=$(basename "$deb")
  echo "== package: apt install ./$name in a throw-away Debian 12 root ($root)"
  cp "$deb" "$root/tmp/"
  mount -t proc proc "$root/proc" || echo "(no /proc in the root: the loader's cache stands in for \$ORIGIN)"
  trap release_root EXIT
  check "apt install ./$name in a Debian 12 root" \
    chroot_run / sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./$name >/tmp/apt.log 2>&1 || { tail -20 /tmp/apt.log; exit 1; }"
  check "installed: the udev rule is in /usr/lib/udev/rules.d" \
    [ -f "$root/usr/lib/udev/rules.d/70-qs71-programmer.rules" ]
  check_programs installed chroot_run /usr/share/doc/qs71/examples /tmp
  check_serve installed installed_examples qs71gen /tmp
  # The postinst reloads udev's rules only where udev runs: a udevadm that records its calls
  # stands in for udev's, first without /run/udev (as in this root), then with it.
  local record="$root/tmp/udevadm.calls"
  printf '#!/bin/sh\necho "$*" >>/tmp/udevadm.calls\n' >"$root/usr/local/sbin/udevadm"
  chmod 755 "$root/usr/local/sbin/udevadm"
  rm -f "$record"
  check "postinst runs where udev does not" chroot_run / /var/lib/dpkg/info/qs71.postinst configure
  check "postinst leaves udev alone where it does not run" [ ! -e "$record" ]
  mkdir -p "$root/run/udev"
  check "postinst runs where udev does" chroot_run / /var/lib/dpkg/info/qs71.postinst configure
  rm -rf "$root/run/udev"
  printf '%s\n' "control --reload-rules" "trigger --subsystem-match=hidraw" >"$work/udev-expected.txt"
  cp "$record" "$work/udev-calls.txt" 2>/dev/null || : >"$work/udev-calls.txt"
  check "postinst reloads and triggers udev where it runs" \
    same_lines "udevadm calls" "$work/udev-expected.txt" "$work/udev-calls.txt"
  # The maintainer scripts keep a removed package's record until it is purged.
  check "apt purge qs71 leaves nothing behind" \
    chroot_run / sh -c "DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq qs71 >/dev/null 2>&1 && ! dpkg -s qs71 >/dev/null 2>&1 && [ ! -e /usr/bin/qs71prog ] && [ ! -e /usr/lib/udev/rules.d/70-qs71-programmer.rules ] && [ ! -d /usr/share/doc/qs71 ]"
  release_root
  trap - EXIT
}

check_deb() {
  local deb
  deb=$(ls "$out"/qs71_"$version"_*.deb 2>/dev/null | head -1)
  check "the .deb exists (qs71_${version}_*.deb)" [ -n "$deb" ] || return
  echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"
  check_deb_control "$deb"
  check_deb_files "$deb"
  check_deb_unpacked "$deb"
  if debian_root "$root_maker"; then
    check_deb_installed "$deb"
  else
    echo "##################################################################################"
    echo "## NO DEBIAN 12 ROOT (debootstrap failed, see build-package/debootstrap.log): the"
    echo "## installation is only simulated with apt-get install --simulate on this machine."
    echo "##################################################################################"
    check "apt-get install --simulate $(basename "$deb")" \
      bash -c "apt-get install --simulate '$deb' >'$work/apt-simulate.log' 2>&1 || { tail -5 '$work/apt-simulate.log'; exit 1; }"
  fi
}

# ---------------------------------------------------------------------------------------------
# The zips

# What qs71prog.exe's --version must say of the libpq and OpenSSL cross-built for it.
zip_trace_libraries() {  # win32|win64
  local triple=i686-w64-mingw32
  [ "$1" = win64 ] && triple=x86_64-w64-mingw32
  local pc="$top/build-win-deps/$triple/prefix/lib/pkgconfig"
  echo "libpq $(PKG_CONFIG_LIBDIR=$pc pkg-config --modversion libpq)," \
    "OpenSSL $(PKG_CONFIG_LIBDIR=$pc pkg-config --modversion libcrypto)"
}

check_zip() {  # win32|win64, PE format expected, wine command ("" when Wine cannot run it)
  local arch=$1 format=$2 wine=$3 zip folder
  folder="qs71-$version-$arch"
  zip="$out/$folder.zip"
  check "the zip exists ($folder.zip)" [ -f "$zip" ] || return
  echo "$folder.zip: $(stat -c %s "$zip") bytes"
  expected_zip_entries "$folder" >"$work/$arch-expected.txt"
  cmake -E tar tf "$zip" | grep -v '/$' | sort >"$work/$arch-entries.txt"
  check "$folder.zip holds exactly the expected files" \
    same_lines "$folder.zip" "$work/$arch-expected.txt" "$work/$arch-entries.txt"
  rm -rf "${work:?}/$arch"
  mkdir -p "$work/$arch"
  (cd "$work/$arch" && cmake -E tar xf "$zip")
  local dir="$work/$arch/$folder" binary found
  for binary in qs71gen.exe qs71prog.exe qs71dump.exe qs71_usb_writer.dll qs71_usb_writer_emulated.dll; do
    found=$(x86_64-w64-mingw32-objdump -f "$dir/$binary" 2>/dev/null | sed -n 's/.*file format //p')
    check "$folder: $binary is $format (found '$found')" [ "$found" = "$format" ]
    found=$(windows_imports_refused "$dir/$binary")
    check "$folder: $binary imports only the system DLLs it may [$(windows_imports "$dir/$binary")]" \
      [ -z "$found" ]
  done
  if [ -z "$wine" ]; then
    echo "== package: Wine cannot run $arch programs here ($no32); $folder.zip checked by its contents only"
    return
  fi
  # As a Windows user: unzipped, the DLLs beside qs71prog.exe, the demo from examples\.
  echo "== package: $folder.zip unpacked and run under $wine"
  local program text
  for program in qs71gen qs71prog qs71dump; do
    text=$(cd "$dir" && $wine "$program.exe" --version | tr -d '\r' | head -1)
    check "$folder: $program.exe --version says '$program $version' (said '$text')" \
      [ "$text" = "$program $version" ]
  done
  local expected
  expected=$(zip_trace_libraries "$arch")
  text=$(cd "$dir" && $wine qs71prog.exe --version | tr -d '\r' | sed -n 2p)
  check "$folder: qs71prog.exe --version names the libpq and OpenSSL linked into it, '$expected' (said '$text')" \
    [ "$text" = "$expected" ]
  text=$(cd "$dir/examples" && $wine ../qs71gen.exe demo.qs ../demo.bin | tr -d '\r' |
         grep '^Complete with')
  check "$folder: qs71gen.exe compiles examples\\demo.qs ('$text')" \
    grep -q "^Complete with 0 Errors" <<<"$text"
  check "$folder: qs71prog.exe writes and verifies it through the emulated DLL beside it" \
    quietly "$work/$arch-prog.log" in_folder "$dir" $wine qs71prog.exe --emulate=demo-chip.otp --write demo.bin
  # The zipped generator has the preparation options and gives the Linux build's image: the
  # cases' maps hold its SHA-256, recorded on Linux.
  local runner="$top/build/tests/e2e/qs71_e2e_runner"
  [ -x "$runner" ] || cmake --build "$top/build" --target qs71_e2e_runner >/dev/null
  check "$folder: qs71gen.exe prepares sounds into the Linux build's image (prepare_inputs, prepare_loudness)" \
    quietly "$work/$arch-prepare.log" "$runner" --gen "$dir/qs71gen.exe" --wrapper "$wine" --crlf \
      --work "$work/$arch-prepare" "$top/tests/e2e/cases/prepare_inputs.case" "$top/tests/e2e/cases/prepare_loudness.case"
}

# ---------------------------------------------------------------------------------------------

# What the .deb, the zips and their checks need; 32-bit Wine is not among them (its absence
# leaves the 32-bit zip checked by its contents, and says so).
QS71_DEPS_STATUS= "$top/scripts/deps.sh" base package windows wine64 || { echo "FAILED: the package stage's tools could not be installed (scripts/deps.sh above names them)"; exit 1; }
root="$work/debian12"
release_root
rm -rf --one-file-system "$out" "$work"
mkdir -p "$out" "$work"
make_pristine_root >"$pkgbuild/debootstrap.log" 2>&1 &
root_maker=$!

build_deb || fail "building the .deb"
echo "(the .deb after ${SECONDS}s)"
"$top/scripts/windows_audio_libs.sh" i686-w64-mingw32 x86_64-w64-mingw32 ||
  fail "the audio libraries for Windows"
build_zip "$top/build-win" mingw-i686.cmake || fail "building the 32-bit zip"
build_zip "$top/build-win64" mingw-x86_64.cmake || fail "building the 64-bit zip"
echo "(the zips after ${SECONDS}s)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$pkgbuild/CMakeCache.txt")
echo "== package: version $version (project(VERSION) in CMakeLists.txt)"

check_deb

source "$top/scripts/wine32.sh"
source "$top/scripts/windows_imports.sh"
no32=$(wine32_unavailable)
wine32=""
[ -z "$no32" ] && wine32=/usr/lib/wine/wine
export WINEPREFIX="$top/build-win64/wineprefix"
check_zip win64 pei-x86-64 /usr/lib/wine/wine64
if [ -n "$wine32" ]; then export WINEPREFIX="$top/build-win/wineprefix" WINEARCH=win32; fi
check_zip win32 pei-i386 "$wine32"

wait "$root_maker" 2>/dev/null
echo
echo "package: ${SECONDS}s"
ls -l "$out"/*.deb "$out"/*.zip 2>/dev/null | awk '{print $5, $NF}'
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
