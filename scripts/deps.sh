#!/usr/bin/env bash
# Installs, only when missing, the Debian packages that building and testing qs71 need.
# Usage: scripts/deps.sh [base|all]   (all adds what the Windows and hardening runs need)
set -euo pipefail

base=(g++ cmake ninja-build pkg-config bison flex libhidapi-dev libgtest-dev libgmock-dev)
extra=()
[ "${1:-base}" = all ] && extra=()

wanted=("${base[@]}" "${extra[@]}")
missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
