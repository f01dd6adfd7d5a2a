#!/usr/bin/env bash
# A Windows station on a line: qs71prog.exe under Wine against PostgreSQL servers on loopback,
# started as the Linux tests start theirs (qs71_test_postgres), beside a Linux qs71prog.
#   - a signed job with a lot of 12 over TLS (the server: ssl on, hostssl alone, a certificate
#     of a CA made by openssl for line-db.test), the Windows station taking the CA from
#     libpq's own root.crt and its password from pgpass.conf, both in %APPDATA%\postgresql,
#     and a Linux station on the same trace: numbers unique, the lot stops both;
#   - refused with libpq's reason: a certificate of another name, a server without TLS (with
#     the way to allow it), a wrong password; sslmode=disable against that server is allowed
#     and named "not encrypted";
#   - a station whose server stops records locally and forwards once the server is back.
# Sourced by scripts/windows.sh (run_line_trace WINE BUILD_DIR, after run_tools has made
# demo.bin in BUILD_DIR); run alone for the same with WINEPREFIX set:
#   scripts/windows_line.sh WINE BUILD_DIR

line_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# A server of qs71_test_postgres as a coprocess named $1, its folder $2 and options after it;
# sets line_connection (and line_ca with --tls).
line_server() {  # name, folder, option...
  local name=$1 folder=$2 tool="$line_top/build/tests/qs71_test_postgres"
  shift 2
  mkdir -p "$folder"
  eval "coproc $name { exec \"$tool\" $* \"$folder\" 2>\"$folder.log\"; }"
  local -n fds=$name
  line_connection='' line_ca=''
  read -r -t 120 line_connection <&"${fds[0]}" || { tail -5 "$folder.log"; return 1; }
  [ $# -eq 0 ] || read -r -t 10 line_ca <&"${fds[0]}"
}

line_command() {  # coprocess name, command (stop, start): true once it answers so
  local -n fds=$1
  local answer
  echo "$2" >&"${fds[1]}" && read -r -t 120 answer <&"${fds[0]}" &&
    { [ "$answer" = stopped ] || [ "$answer" = started ]; }
}

line_end_server() {  # coprocess name
  local -n pid="$1_PID"
  kill -TERM "$pid" && wait "$pid"
}

# Parts are made by the Linux qs71prog (the same emulated part files) beside the socket and
# then put into it whole: a running station holds every part file it meets.
line_parts() {  # socket folder, first, last
  local i
  mkdir -p "$1" "$1.made"
  for ((i = $2; i <= $3; i++)); do
    "$line_top/build/tools/qs71prog/qs71prog" --emulate="$1.made/part$i.otp" --identify >/dev/null 2>&1 &&
      mv "$1.made/part$i.otp" "$1/part$i.otp"
  done
}

line_wait_for() {  # file, extended pattern, count, seconds
  local waited=0
  until [ "$(grep -Ec "$2" "$1" 2>/dev/null)" -ge "$3" ]; do
    ((waited++ < $4 * 10)) || return 1
    sleep 0.1
  done
}

# The server's own count, through its administrator's connection (line_admin).
line_sql() {  # statement
  psql "$line_admin" -XAtqc "$1" 2>&1
}

# The job's lot of 12 on both stations at once. The Windows station makes 2 parts and waits
# for more, holding its reserve of the lot's numbers; the Linux station beside it then makes
# what the lot has room for and stops; given more parts, the Windows station uses its reserve
# up and stops at the lot too. So each makes some of the lot, whichever starts faster.
line_two_stations() {  # wine, folder, port, Linux connection
  local wine=$1 at=$2 windows counted exits report
  windows="postgresql://qs71@line-db.test:$3/trace?hostaddr=127.0.0.1"
  line_parts "$at/win" 1 2
  line_parts "$at/lin" 1 12
  (cd "$at" && QS71_TRUST_DIR=keys QS71_EMU_SOCKET=win QS71_EMU_OPERATOR=0 \
     $wine "$line_exe" --emulate --job tls.job --production --station win \
     --trace "$windows" >win.log 2>&1; echo $? >win.exit) &
  local pid=$!
  line_wait_for "$at/win.log" "PASS" 2 120
  (cd "$at" && QS71_TRUST_DIR=keys QS71_EMU_SOCKET=lin QS71_EMU_OPERATOR=0 PGPASSFILE=pgpass \
     "$line_top/build/tools/qs71prog/qs71prog" --emulate --job tls.job --production --station lin \
     --trace "$4" >lin.log 2>&1; echo $? >lin.exit)
  line_parts "$at/win" 3 12
  wait "$pid"
  exits="$(cat "$at/win.exit") $(cat "$at/lin.exit")"
  report=$(cd "$at" && $wine "$line_exe" --report - --trace "$windows" 2>&1 | tr -d '\r')
  counted=$(line_sql "SELECT count(*), count(DISTINCT number), min(number), max(number), string_agg(DISTINCT station, ',') FROM parts JOIN runs ON runs.id = parts.run WHERE result = 'pass'")
  if [ "$exits" = "15 15" ] && grep -q "the lot of 12 parts is complete" "$at/win.log" &&
     [ "$counted" = "12|12|1|12|lin,win" ] && grep -Eq "^all +12 +12 " <<<"$report" &&
     grep -q "trace: postgresql://qs71@line-db.test:$3/trace" "$at/win.log" &&
     ! grep -q "not encrypted" "$at/win.log"; then
    pass "qs71prog.exe and a Linux qs71prog share a lot of 12 over TLS: numbers 1 to 12 once each, the lot stops both, qs71prog.exe reports it from the server"
  else
    fail "a lot of 12 over TLS on two stations (exits $exits, expected 15 15; the server counts '$counted', expected 12|12|1|12|lin,win):"
    tail -4 "$at/win.log"; tail -4 "$at/lin.log"; head -12 <<<"$report"
  fi
}

line_refused() {  # wine, folder, check name, connection, expected text, password file
  local out
  rm -rf "$2/one"
  line_parts "$2/one" 1 1
  out=$(cd "$2" && QS71_EMU_SOCKET=one QS71_EMU_OPERATOR=0 PGPASSFILE=${6:-} \
        $1 "$line_exe" --emulate --write demo.bin --production --count 1 --trace "$4" 2>&1 |
        tr -d '\r')
  local status=${PIPESTATUS[0]}
  if [ "$status" -eq "${7:-9}" ] && grep -qF "$5" <<<"$out" && ! grep -qF "line-7-secret" <<<"$out"; then
    pass "qs71prog.exe on the line: $3"
  else
    fail "qs71prog.exe on the line: $3 (exit $status, expected ${7:-9}; expected '$5'):"
    tail -3 <<<"$out"
  fi
}

# A station whose server stops after its first part goes on locally, and forwards what it
# recorded meanwhile once the server is back, in the same run.
line_outage() {  # wine, folder, server coprocess, connection
  local at=$2/cut counted
  rm -rf "$at" && mkdir -p "$at"
  line_parts "$at/socket" 1 1
  (cd "$at" && QS71_EMU_SOCKET=socket QS71_EMU_OPERATOR=0 \
     $1 "$line_exe" --emulate --write ../demo.bin --production --count 3 --station cut \
     --trace "$4" >cut.log 2>&1; echo $? >cut.exit) &
  local pid=$!
  line_wait_for "$at/cut.log" "PASS" 1 120 && line_command "$3" stop
  line_parts "$at/socket" 2 2
  line_wait_for "$at/cut.log" "PASS" 2 120 && line_command "$3" start
  line_parts "$at/socket" 3 3
  wait "$pid"
  counted=$(line_sql "SELECT count(*) FROM parts JOIN runs ON runs.id = parts.run WHERE station = 'cut' AND result = 'pass'")
  if [ "$(cat "$at/cut.exit")" = 0 ] && grep -q "not answering: recording locally" "$at/cut.log" &&
     [ "$counted" = 3 ]; then
    pass "qs71prog.exe records locally while the line's server is stopped and forwards once it is back"
  else
    fail "qs71prog.exe through an outage of the line's server (exit $(cat "$at/cut.exit"), expected 0; the server counts '$counted' parts, expected 3):"
    tail -5 "$at/cut.log"
  fi
}

run_line_trace() {  # wine command, build dir
  local wine=$1 at=$2/line-tls started=$SECONDS appdata port plain
  line_exe=$2/tools/qs71prog/qs71prog.exe
  echo "== windows: qs71prog.exe on a line of PostgreSQL servers under $wine"
  cmake --build "$line_top/build" --target qs71_test_postgres qs71prog >/dev/null ||
    { fail "the Linux qs71prog and qs71_test_postgres"; return; }
  rm -rf "$at" "$WINEPREFIX"/drive_c/users/*/AppData/Local/qs71/trace.db*
  mkdir -p "$at/keys"
  cp "$2/demo.bin" "$at/"
  (cd "$at" && $wine "$line_exe" --make-key alice && cp alice.pub keys/ &&
   $wine "$line_exe" --make-job tls.job --write demo.bin --lot 12 --sign alice) >"$at/make.log" 2>&1 ||
    { fail "a signed job for the line:"; tail -5 "$at/make.log"; return; }
  line_server line_tls "$at/tls" --tls || { fail "no PostgreSQL server with TLS"; return; }
  [[ $line_connection =~ :([0-9]+)/trace ]] && port=${BASH_REMATCH[1]}
  line_admin=$line_connection
  # libpq's own places on Windows: %APPDATA%\postgresql\root.crt and pgpass.conf.
  appdata=$($wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
  appdata=$($wine winepath -u "$appdata" 2>/dev/null | tr -d '\r')
  mkdir -p "$appdata/postgresql"
  cp "$line_ca" "$appdata/postgresql/root.crt"
  echo "*:$port:trace:qs71:line-7-secret" >"$appdata/postgresql/pgpass.conf"
  echo "*:$port:trace:qs71:line-7-secret" >"$at/pgpass" && chmod 600 "$at/pgpass"
  echo "*:*:trace:qs71:not-the-password" >"$at/wrong.pgpass"
  line_two_stations "$wine" "$at" "$port" \
    "postgresql://qs71@line-db.test:$port/trace?hostaddr=127.0.0.1&sslrootcert=$line_ca"
  line_refused "$wine" "$at" "a certificate of another name is refused" \
    "postgresql://qs71@localhost:$port/trace?hostaddr=127.0.0.1" \
    'server certificate for "line-db.test" does not match host name "localhost"'
  line_refused "$wine" "$at" "a wrong password is refused" \
    "postgresql://qs71@line-db.test:$port/trace?hostaddr=127.0.0.1" \
    'password authentication failed for user "qs71"' wrong.pgpass
  line_outage "$wine" "$at" line_tls "postgresql://qs71@line-db.test:$port/trace?hostaddr=127.0.0.1"
  line_end_server line_tls
  # Another line: the station's own trace of this one would name numbers the next has not.
  rm -f "$WINEPREFIX"/drive_c/users/*/AppData/Local/qs71/trace.db*
  line_server line_plain "$at/plain" || { fail "no PostgreSQL server without TLS"; return; }
  [[ $line_connection =~ :([0-9]+)/trace ]] && plain=${BASH_REMATCH[1]}
  echo "*:$plain:trace:qs71:line-7-secret" >>"$appdata/postgresql/pgpass.conf"
  line_refused "$wine" "$at" "a server without TLS is refused, saying how to allow it" \
    "postgresql://qs71@127.0.0.1:$plain/trace" \
    "server does not support SSL, but SSL was required; to record on this server without encryption, add sslmode=disable"
  line_refused "$wine" "$at" "sslmode=disable records on a server without TLS, named not encrypted" \
    "postgresql://qs71@127.0.0.1:$plain/trace?sslmode=disable" \
    "trace: postgresql://qs71@127.0.0.1:$plain/trace (not encrypted)" "" 0
  line_end_server line_plain
  echo "== windows: the line under $wine took $((SECONDS - started)) s"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  failures=0
  fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
  pass() { echo "ok: $*"; }
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
  run_line_trace "$1" "$2"
  [ "$failures" -eq 0 ]
fi
