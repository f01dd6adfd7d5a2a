# Sourced by scripts/windows.sh and scripts/package.sh: whether this machine runs 32-bit
# Windows programs under Wine. They run only where 32-bit Wine (wine32:i386) is installed and
# the kernel can execute 32-bit code; QS71_WINE32_MISSING, set by scripts/test.sh, carries
# apt's reason when scripts/deps.sh could not install 32-bit Wine.

# Why 32-bit programs cannot run under Wine here; nothing when they can.
wine32_unavailable() {
  local out
  if [ -n "${QS71_WINE32_MISSING:-}" ]; then
    echo "32-bit Wine could not be installed: ${QS71_WINE32_MISSING}"
  elif [ ! -x /usr/lib/wine/wine ]; then
    echo "32-bit Wine is not installed (wine32:i386; scripts/deps.sh wine32 installs it)"
  elif ! out=$(timeout 60 /usr/lib/wine/wine --version 2>&1); then
    if grep -q "Exec format error" <<<"$out"; then
      echo "the kernel refuses to execute 32-bit code (\"Exec format error\")"
    else
      echo "32-bit Wine does not start: $(head -1 <<<"$out")"
    fi
  fi
}
