# shellcheck shell=bash
# The system DLLs each Windows binary may import, sourced by scripts/windows.sh (the build
# folders) and scripts/package.sh (the zips). Each is part of every Windows the product runs
# on, so that the binaries run on a bare one; anything else (a DLL of a library, of the
# compiler's runtime) is a binary that needs more than it ships.

# Every binary: the kernel, the C runtime, the console's and the registry's calls.
windows_imports_common="kernel32.dll msvcrt.dll user32.dll advapi32.dll"

# The DLLs a binary may import beyond the common ones, by its file name.
#   qs71_usb_writer*.dll  setupapi.dll: finding the programmer among the HID devices;
#                         hid.dll: the HID class driver's calls (attributes, serial, reports)
#   qs71prog.exe          libpq and OpenSSL, linked into it for a line's trace:
#                         ws2_32.dll: the sockets that reach the PostgreSQL server;
#                         secur32.dll: SSPI, the Windows sign-on libpq offers a server that
#                         asks for it (sspi, gss in pg_hba.conf);
#                         shell32.dll: SHGetFolderPath, where libpq finds %APPDATA%\postgresql
#                         (pgpass.conf, root.crt, pg_service.conf)
windows_imports_extra() {  # file name
  case ${1,,} in
    qs71_usb_writer*.dll) echo setupapi.dll hid.dll ;;
    qs71prog.exe) echo ws2_32.dll secur32.dll shell32.dll ;;
  esac
}

# The DLLs a PE file imports, lower case, sorted, on one line.
windows_imports() {  # PE file
  x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {print tolower($3)}' | sort | tr '\n' ' ' |
    sed 's/ $//'
}

# The DLLs a PE file imports that its name does not allow; nothing when all are allowed.
windows_imports_refused() {  # PE file
  local allowed name
  allowed=" $windows_imports_common $(windows_imports_extra "$(basename "$1")") "
  for name in $(windows_imports "$1"); do
    [[ "$allowed" == *" $name "* ]] || echo "$name"
  done | tr '\n' ' ' | sed 's/ $//'
}
