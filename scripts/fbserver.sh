#!/usr/bin/env bash
# A private Firebird server on loopback for tests that need real passwords.
#
#   fbserver.sh start <root> <sysdba-password> <planer-password>
#       Builds a server root in <root> (own firebird.conf, databases.conf,
#       security database with users SYSDBA and PLANER, lock and temp
#       folders), starts the server on a free port and waits until a real
#       log-in succeeds. Prints the port; <root>/port and <root>/pid hold the
#       port and the server's process id.
#   fbserver.sh stop <root>
#       Stops the server started in <root> (SIGTERM, then SIGKILL after 5 s).
set -euo pipefail

FB_LIB=${FB_LIB:-/usr/lib/x86_64-linux-gnu/firebird/3.0}
FB_SERVER=${FB_SERVER:-/usr/sbin/firebird}

die() { echo "fbserver: $*" >&2; exit 1; }

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
  local p i
  for i in $(seq 1 200); do
    p=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
    if ! port_in_use "$p"; then echo "$p"; return 0; fi
  done
  die "no free port found"
}

start() {
  local root=$1 syspw=$2 planerpw=$3
  [ -x "$FB_SERVER" ] || die "server binary $FB_SERVER missing (package firebird3.0-server)"
  mkdir -p "$root"
  root=$(cd "$root" && pwd)
  mkdir -p "$root/lock" "$root/tmp" "$root/intl"
  # The installed files, linked; configuration and character sets of our own.
  local f name
  for f in "$FB_LIB"/*; do
    name=$(basename "$f")
    case "$name" in firebird.conf|databases.conf|intl) continue ;; esac
    ln -sfn "$f" "$root/$name"
  done
  # A link here leaves WIN1250 "not installed": it must be a real copy.
  cp -f "$FB_LIB/intl/libfbintl.so" "$FB_LIB/intl/fbintl.conf" "$root/intl/"

  local port
  port=$(free_port)
  cat >"$root/firebird.conf" <<EOF
RemoteServicePort = $port
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $root/security3.fdb
AuthServer = Srp
AuthClient = Srp, Legacy_Auth
UserManager = Srp
WireCrypt = Enabled
ServerMode = Super
EOF
  cat >"$root/databases.conf" <<EOF
security.db = $root/security3.fdb
EOF

  export FIREBIRD=$root FIREBIRD_LOCK=$root/lock FIREBIRD_TMP=$root/tmp
  # The security database with its users, made embedded before the server starts.
  rm -f "$root/security3.fdb"
  isql-fb -q -b >"$root/setup.log" 2>&1 <<EOF || die "creating the security database failed: $(cat "$root/setup.log")"
CREATE DATABASE '$root/security3.fdb' USER 'SYSDBA';
CREATE USER SYSDBA PASSWORD '$syspw' USING PLUGIN Srp;
CREATE USER PLANER PASSWORD '$planerpw' USING PLUGIN Srp;
COMMIT;
EOF

  "$FB_SERVER" </dev/null >"$root/server.log" 2>&1 &
  local pid=$!
  echo "$pid" >"$root/pid"
  echo "$port" >"$root/port"
  unset FIREBIRD FIREBIRD_LOCK FIREBIRD_TMP

  # Ready when a real log-in to this server (and not another one on the port)
  # answers with our root folder.
  local i out
  for i in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || die "server exited: $(cat "$root/server.log")"
    if out=$(fbsvcmgr "127.0.0.1/$port:service_mgr" -user SYSDBA -password "$syspw" -info_get_env 2>&1) &&
       grep -qF "$root" <<<"$out"; then
      echo "$port"
      return 0
    fi
    sleep 0.1
  done
  kill -TERM "$pid" 2>/dev/null || true
  die "server on port $port not ready: $out"
}

# Running and not a zombie (nobody may reap the detached server).
alive() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "${state:0:1}" != "Z" ]
}

stop() {
  local root=$1 pid i
  [ -f "$root/pid" ] || return 0
  pid=$(cat "$root/pid")
  # SIGTERM normally ends it in 1 to 2 s; on a busy machine it can linger, and
  # a test server's databases are throwaway, so SIGKILL follows after 5 s.
  if kill -TERM "$pid" 2>/dev/null; then
    for i in $(seq 1 50); do
      alive "$pid" || break
      sleep 0.1
    done
    alive "$pid" && kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$root/pid"
}

case "${1:-}" in
  start) [ $# -eq 4 ] || die "usage: $0 start <root> <sysdba-password> <planer-password>"; start "$2" "$3" "$4" ;;
  stop) [ $# -eq 2 ] || die "usage: $0 stop <root>"; stop "$2" ;;
  *) die "usage: $0 start|stop <root> ..." ;;
esac
