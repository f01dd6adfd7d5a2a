#!/usr/bin/env bash
# Installs, only when missing, the Debian packages that building and testing qs71 need, in
# groups, so that what cannot be installed takes down only the stages that need it.
#
# Usage: scripts/deps.sh [GROUP ...]     (no group: base; "all": every group)
#   base       the native build and its tests, ccache (every stage builds through it)
#   sanitize   clang and its runtime: the sanitizer, thread-sanitizer and fuzz stages
#   windows    the mingw-w64 cross compilers and the tools the cross-built libraries need
#   wine64     64-bit Wine, which runs the Windows binaries
#   wine32     32-bit Wine (wine32:i386): the product's own 32-bit binaries under Wine
#   browser    Debian's chromium and Node.js with npm: the browser stage
#   package    dpkg-dev and debootstrap: the .deb and its installation into a Debian 12 root
#
# Exit status: 0 when every group asked for is installed; 10 when some could not be (each is
# named on standard error with its packages and apt's reason, and written to the status file
# below); 2 for a group that does not exist or a setting that is no number; 3 when the status
# file cannot be written. An index that apt cannot fetch (a mirror in the
# middle of its sync) is retried, then named and passed over: the lists that did come in are
# used.
#
# QS71_DEPS_STATUS=FILE   receives one line per group that is missing:
#                         "<group><TAB><packages><TAB><apt's reason>"; emptied when none is.
# QS71_APT_TRIES (3) and QS71_APT_PAUSE (15 seconds) set how often and how far apart
# `apt-get update` is tried.
set -uo pipefail

declare -A group
# help2man writes the man pages from each program's --help at build time; strace watches the
# order of the sync and rename calls that make an output durable. libsoxr, libebur128 and
# libsndfile resample, measure and read the recordings that qs71gen prepares; sox is the
# reference the bench measures the preparation against. libsodium signs and checks qs71prog's
# job files (Ed25519). SQLite holds a station's production trace; libpq reaches a line's
# PostgreSQL trace, and the tests start a server of their own from the postgresql package.
# toml++ reads qs71gen's project files (header-only, on Windows too). cpp-httplib serves
# qs71gen --serve's page on 127.0.0.1; its tests attack it with curl, as another user, and on
# port 80 in a network namespace of their own (iproute2 brings its loopback up). ccache lets
# every stage reuse the main stage's objects.
group[base]="g++ cmake ninja-build pkg-config bison libhidapi-dev libgtest-dev libgmock-dev
  help2man strace tmux libsoxr-dev libebur128-dev libsndfile1-dev sox libsodium-dev
  libsqlite3-dev sqlite3 libpq-dev postgresql libtomlplusplus-dev libcpp-httplib-dev curl
  iproute2 ccache"
group[sanitize]="clang libclang-rt-14-dev"
# Debian's libsodium source has no configure script: the Windows cross-build makes it as
# Debian's packaging does, with autoreconf. Debian's SQLite source is the full tree: the
# cross-build makes its one-file amalgamation with the tclsh scripts SQLite generates it with.
# OpenSSL's Configure is a perl script; OpenSSL, libpq and libsodium build with make (which
# cmake only recommends).
group[windows]="g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
  autoconf automake libtool tcl perl make"
group[wine64]="wine wine64"
# 32-bit Wine comes from the i386 architecture, whose indexes are the first to be out of step.
group[wine32]="wine32:i386"
# The browser stage opens the pages in Debian's own chromium, driven by playwright-core from
# npm; no browser is downloaded. npm is its own package on Debian but comes with the nodejs of
# other sources, which Debian's npm would conflict with: it is asked for only when missing.
group[browser]="chromium nodejs"
# dpkg-shlibdeps writes the .deb's Depends; debootstrap makes a Debian 12 root to install it in.
group[package]="dpkg-dev debootstrap"
order=(base sanitize windows wine64 wine32 browser package)

status_file=${QS71_DEPS_STATUS:-}
tries=${QS71_APT_TRIES:-3}
pause=${QS71_APT_PAUSE:-15}
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# On a machine just booted, unattended-upgrades often holds dpkg's lock for a while.
apt_options=(-o DPkg::Lock::Timeout=300)

say() { echo "deps: $*" >&2; }

# A count setting: whole and at least its minimum, else the run ends with status 2.
check_count() {  # name, value, minimum
  [[ "$2" =~ ^[0-9]+$ ]] && [ "$2" -ge "$3" ] && return 0
  say "$1 must be a whole number of at least $3, not '$2'"
  exit 2
}

# Installed whatever its wanted state: a package an administrator holds ("hold ok installed")
# is installed.
installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

# Writes to the status file, or ends the run with status 3: a stage must never go on believing
# a stale or empty file.
to_status() {  # printf's arguments
  [ -n "$status_file" ] || return 0
  # shellcheck disable=SC2059  # the format is the caller's
  printf "$@" >>"$status_file" && return 0
  say "the status file $status_file cannot be written"
  exit 3
}

# The packages of a group that are not installed yet.
missing_of() {
  local p out=()
  for p in ${group[$1]}; do installed "$p" || out+=("$p"); done
  if [ "$1" = browser ] && ! command -v npm >/dev/null; then out+=(npm); fi
  echo "${out[*]}"
}

# The groups asked for, each once, in the order of the table.
wanted_groups() {
  local g
  declare -A asked
  [ $# -eq 0 ] && set -- base
  for g in "$@"; do
    if [ "$g" = all ]; then
      for g in "${order[@]}"; do asked[$g]=1; done
      continue
    fi
    [[ -n "$g" && " ${order[*]} " == *" $g "* ]] || { say "no group '$g' (the groups: ${order[*]})"; return 1; }
    asked[$g]=1
  done
  for g in "${order[@]}"; do [ -n "${asked[$g]:-}" ] && echo "$g"; done
  return 0
}

# apt-get update, tried again after a pause while an index fails (apt calls a network failure
# only a warning, and exits 0); then the indexes that still failed are named and the lists
# that came in are used.
update_lists() {
  local try log=$1
  for ((try = 1; try <= tries; try++)); do
    $sudo apt-get update -qq "${apt_options[@]}" >"$log" 2>&1 &&
      ! grep -qE '^(E|W): Failed to fetch' "$log" && return 0
    [ "$try" -lt "$tries" ] && { say "apt-get update failed (try $try of $tries); again in ${pause} s"; sleep "$pause"; }
  done
  local failed
  failed=$(grep -E '^(E|W): Failed to fetch' "$log" | sed -E 's/^(E|W): Failed to fetch //')
  echo "$failed" | sed '/^$/d' >"$log.failed"
  if [ -n "$failed" ]; then
    while IFS= read -r line; do say "index not fetched, passed over: $line"; done <<<"$failed"
  else
    say "apt-get update failed; going on with the lists there are:"; sed 's/^/  /' "$log" >&2
  fi
  return 0
}

# apt's own reason for a group, from what it printed: its error, and how many dependencies it
# could not meet with the first of them (a "not installable" one first), then the indexes that
# could not be fetched, which are the usual cause.
apt_reason() {  # install log, simulation log
  local error deps first reason
  error=$(cat "$1" "$2" 2>/dev/null | grep -E '^E: ' | head -1)
  deps=$(grep -c ' Depends: ' "$2" 2>/dev/null)
  first=$(grep -E ' Depends: .*not installable' "$2" 2>/dev/null | head -1)
  [ -n "$first" ] || first=$(grep -E ' : Depends: ' "$2" 2>/dev/null | head -1)
  error=${error%.}
  # Without an error of apt's own, its exit status and last words (sudo missing, a crash).
  [ -n "$error" ] || error="apt-get install did not install them (exit $(cat "$1.status" 2>/dev/null || echo unknown)$(
    tail -n 1 "$1" 2>/dev/null | sed 's/^./: &/'))"
  reason=$error
  [ "${deps:-0}" -gt 0 ] && reason+="; $deps unmet dependencies, the first: $(sed -E 's/^ +//' <<<"$first")"
  [ -s "$3" ] && reason+="; indexes not fetched: $(cut -d' ' -f1 "$3" | paste -sd ' ')"
  echo "$reason"
}

install_packages() {  # log, packages...
  local log=$1
  shift
  $sudo apt-get install -y -qq --no-install-recommends "${apt_options[@]}" "$@" >"$log" 2>&1
  local status=$?
  echo "$status" >"$log.status"
  return "$status"
}

main() {
  local groups g need=() log
  check_count QS71_APT_TRIES "$tries" 1
  check_count QS71_APT_PAUSE "$pause" 0
  groups=$(wanted_groups "$@") || exit 2
  declare -A pending
  for g in $groups; do
    pending[$g]=$(missing_of "$g")
    [ -n "${pending[$g]}" ] && need+=($g)
  done
  if [ -n "$status_file" ] && ! : >"$status_file"; then
    say "the status file $status_file cannot be written"
    exit 3
  fi
  [ ${#need[@]} -eq 0 ] && exit 0

  log=$(mktemp -d)
  trap 'rm -rf "$log"' EXIT
  local all=()
  for g in "${need[@]}"; do all+=(${pending[$g]}); done
  say "installing: ${all[*]}"
  if [[ " ${all[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  update_lists "$log/update"
  # One install when everything can be had; otherwise each group on its own, so that one
  # package that cannot be installed takes down only its own group.
  if ! install_packages "$log/all" "${all[@]}"; then
    say "the packages cannot all be installed at once; installing group by group"
    for g in "${need[@]}"; do
      install_packages "$log/$g" ${pending[$g]} && continue
      # Quietly, apt names no cause; its simulation does.
      $sudo apt-get install -s --no-install-recommends "${apt_options[@]}" ${pending[$g]} >"$log/$g.why" 2>&1
    done
  fi
  local lost=() left reason
  for g in "${need[@]}"; do
    left=$(missing_of "$g")
    [ -z "$left" ] && continue
    reason=$(apt_reason "$log/$g" "$log/$g.why" "$log/update.failed")
    say "MISSING GROUP $g: $left: $reason"
    to_status '%s\t%s\t%s\n' "$g" "$left" "$reason"
    lost+=("$g")
  done
  [ ${#lost[@]} -eq 0 ] && exit 0
  local fallback=""
  [[ " ${lost[*]} " == *" wine32 "* ]] && fallback=" (32-bit Wine: the Windows stage runs its 64-bit build instead)"
  say "not installed: ${lost[*]}; the stages that need them will fail$fallback"
  exit 10
}

main "$@"
