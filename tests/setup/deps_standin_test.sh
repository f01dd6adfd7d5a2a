#!/usr/bin/env bash
# scripts/deps.sh against stand-ins for apt-get, dpkg-query and dpkg, first on PATH in a scratch
# folder: a mirror half in sync (the i386 index of one suite fails to download) and 32-bit Wine
# that apt cannot install. Every other group must be installed, the messages must name the
# index and the group that failed, and the exit status must say what was lost. Nothing here
# touches the system's own package state: the stand-ins keep theirs in the scratch folder.
# Usage: deps_standin_test.sh SOURCE_DIR SCRATCH_DIR
set -uo pipefail
top=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/bin"
passes=0
failures=0
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; passes=$((passes + 1)); else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# dpkg-query: a package counts as installed once the stand-in apt-get has "installed" it, or
# when it is not among those the test makes missing. It answers the status word alone, as
# ${db:Status-Status} asks: what an administrator wants of the package is not asked.
cat >"$scratch/bin/dpkg-query" <<'STANDIN'
#!/usr/bin/env bash
p=${!#}
if grep -qxF -- "$p" "$QS71_STANDIN/installed" 2>/dev/null || ! grep -qxF -- "$p" "$QS71_STANDIN/absent"; then
  printf 'installed'
else
  printf 'not-installed'
fi
STANDIN
# sudo: a user who is not root would otherwise reach the system's own apt-get through it.
printf '#!/bin/sh\nexec "$@"\n' >"$scratch/bin/sudo"

cat >"$scratch/bin/dpkg" <<'STANDIN'
#!/usr/bin/env bash
case "$1" in
  --add-architecture) echo "$2" >>"$QS71_STANDIN/architectures" ;;
  --print-foreign-architectures) cat "$QS71_STANDIN/architectures" 2>/dev/null ;;
  *) echo "dpkg stand-in: unexpected $*" >&2; exit 2 ;;
esac
STANDIN
# apt-get: update fails on the security suite's i386 index, as a mirror in sync does; an
# install that holds wine32:i386 fails as apt does when a dependency is not installable.
cat >"$scratch/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "apt-get $*" >>"$QS71_STANDIN/calls"
if [ "$1" = update ] && [ "${QS71_STANDIN_UPDATE:-}" = warning ]; then
  # A network failure is only a warning to apt, which then exits 0.
  echo "W: Failed to fetch http://deb.debian.org/debian/dists/bookworm/InRelease  Could not connect to deb.debian.org:80" >&2
  echo "W: Some index files failed to download. They have been ignored, or old ones used instead." >&2
  exit 0
fi
if [ "$1" = update ]; then
  cat >&2 <<'APT'
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
   Hashes of expected file:
    - Filesize:376004 [weak]
E: Some index files failed to download. They have been ignored, or old ones used instead.
APT
  exit 100
fi
[ "$1" = install ] || { echo "apt-get stand-in: unexpected $*" >&2; exit 2; }
shift
packages=()
for a in "$@"; do [[ "$a" == -* ]] || packages+=("$a"); done
if [[ " ${packages[*]} " == *" wine32:i386 "* ]]; then
  # Quiet (-qq), apt prints its error alone; otherwise the unmet dependencies before it.
  [[ " $* " == *" -qq "* ]] || cat <<'APT'
Some packages could not be installed. This may mean that you have
requested an impossible situation or if you are using the unstable
distribution that some required packages have not yet been created
or been moved out of Incoming.
The following information may help to resolve the situation:

The following packages have unmet dependencies:
 libwine:i386 : Depends: libgstreamer-plugins-base1.0-0:i386 (>= 1.0.0) but it is not installable
APT
  echo "E: Unable to correct problems, you have held broken packages." >&2
  exit 100
fi
[[ " $* " == *" -s "* ]] || printf '%s\n' "${packages[@]}" >>"$QS71_STANDIN/installed"
STANDIN
chmod +x "$scratch/bin/"*

# Missing: one package of every group, and the whole of wine32.
printf '%s\n' ccache clang g++-mingw-w64-i686-posix tcl wine64 wine32:i386 chromium debootstrap \
  >"$scratch/absent"
out=$(PATH="$scratch/bin:$PATH" QS71_STANDIN=$scratch QS71_APT_TRIES=2 QS71_APT_PAUSE=0 \
      QS71_DEPS_STATUS="$scratch/status" "$top/scripts/deps.sh" all 2>&1)
status=$?
echo "$out" | sed 's/^/  | /'

check "exit status 10: some groups are missing" [ "$status" -eq 10 ]
check "the i386 architecture was added to the stand-in, not the system" grep -qx i386 "$scratch/architectures"
check "apt-get update was tried twice" [ "$(grep -c '^apt-get update' "$scratch/calls")" -eq 2 ]
check "the index that failed is named" grep -q "index not fetched, passed over: http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz" <<<"$out"
for p in ccache clang g++-mingw-w64-i686-posix tcl wine64 chromium debootstrap; do
  check "$p is installed" grep -qx -- "$p" "$scratch/installed"
done
check "wine32:i386 is not installed" bash -c "! grep -qx wine32:i386 '$scratch/installed'"
check "the missing group is named with its package and apt's reason" \
  grep -q "MISSING GROUP wine32: wine32:i386: E: Unable to correct problems, you have held broken packages; 1 unmet dependencies, the first: libwine:i386 : Depends: libgstreamer-plugins-base1.0-0:i386 (>= 1.0.0) but it is not installable; indexes not fetched: http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz" <<<"$out"
check "the status file holds exactly the wine32 group" \
  bash -c "[ \"\$(cut -f1 '$scratch/status')\" = wine32 ]"
check "no other group is named missing" bash -c "! grep -E 'MISSING GROUP (base|sanitize|windows|wine64|browser|package)' <<<\"\$0\"" "$out"

# Nothing missing: nothing is asked of apt, exit 0, an empty status file.
: >"$scratch/absent"
: >"$scratch/calls"
echo stale >"$scratch/status"
PATH="$scratch/bin:$PATH" QS71_STANDIN=$scratch QS71_DEPS_STATUS="$scratch/status" \
  "$top/scripts/deps.sh" base windows >/dev/null 2>&1
status=$?
check "everything installed: exit 0" [ "$status" -eq 0 ]
check "everything installed: apt-get is not called" [ ! -s "$scratch/calls" ]
check "everything installed: the status file is emptied" [ ! -s "$scratch/status" ]

# A group that does not exist is a usage error.
PATH="$scratch/bin:$PATH" QS71_STANDIN=$scratch "$top/scripts/deps.sh" bsae >/dev/null 2>&1
check "an unknown group: exit 2" [ "$?" -eq 2 ]

# Settings and files the run cannot work with end it with a status of its own:
# status | environment | groups
while IFS='|' read -r want settings groups; do
  : >"$scratch/absent"
  # shellcheck disable=SC2086  # the settings are words
  env PATH="$scratch/bin:$PATH" QS71_STANDIN=$scratch $settings "$top/scripts/deps.sh" $groups >/dev/null 2>&1
  check "deps.sh $groups with $settings: exit $want" [ "$?" -eq "$want" ]
done <<ROWS
2|QS71_APT_TRIES=0|base
2|QS71_APT_TRIES=abc|base
2|QS71_APT_PAUSE=1x|base
3|QS71_DEPS_STATUS=$scratch/no-such-folder/status|base
ROWS

# An update that fails only with apt's warnings is tried again, and its index named; a group
# asked for twice is one line.
printf '%s\n' wine32:i386 >"$scratch/absent"
: >"$scratch/calls"
out=$(PATH="$scratch/bin:$PATH" QS71_STANDIN=$scratch QS71_STANDIN_UPDATE=warning QS71_APT_TRIES=2 \
      QS71_APT_PAUSE=0 QS71_DEPS_STATUS="$scratch/status" "$top/scripts/deps.sh" wine32 base wine32 2>&1)
check "warnings only: apt-get update was tried twice" [ "$(grep -c '^apt-get update' "$scratch/calls")" -eq 2 ]
check "warnings only: the index is named" grep -q "index not fetched, passed over: http://deb.debian.org/debian/dists/bookworm/InRelease" <<<"$out"
check "a group asked for twice: one status line" [ "$(wc -l <"$scratch/status")" -eq 1 ]

# The base group alone, as scripts/demo.sh asks for it, with the broken index.
printf '%s\n' ccache bison >"$scratch/absent"
: >"$scratch/installed"
PATH="$scratch/bin:$PATH" QS71_STANDIN=$scratch QS71_APT_TRIES=1 "$top/scripts/deps.sh" base >/dev/null 2>&1
status=$?
check "base alone with a broken index: exit 0" [ "$status" -eq 0 ]
check "base alone: its missing packages installed" grep -qx bison "$scratch/installed"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
