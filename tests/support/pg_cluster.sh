#!/usr/bin/env bash
# A throw-away PostgreSQL cluster with PostGIS for the tests, reachable only
# through a Unix socket in its own folder (no TCP port is opened).
#
#   pg_cluster.sh start DATA_DIR SOCKET_DIR   initdb, start, create the
#                                              database "quilta" with PostGIS
#   pg_cluster.sh stop DATA_DIR SOCKET_DIR    stop the server, remove both
#
# The tests connect with "host=SOCKET_DIR port=5432 dbname=quilta user=quilta".
# The server skips fsync (the tests need no durability) unless
# QUILTA_PG_FSYNC=on says otherwise (a benchmark does).
# The server refuses to run as root, so under root it runs as the system user
# "postgres" (the Debian server package creates it). A started server also
# stops by itself when the process that started this script (ctest) is gone,
# however that ends: a watcher waits for it.
set -euo pipefail

action=${1:?usage: $0 start|stop DATA_DIR SOCKET_DIR}
data=${2:?usage: $0 start|stop DATA_DIR SOCKET_DIR}
socket=${3:?usage: $0 start|stop DATA_DIR SOCKET_DIR}
port=5432

bindir=""
if command -v pg_config >/dev/null && [ -x "$(pg_config --bindir)/initdb" ]; then
  bindir=$(pg_config --bindir)
else
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
fi
[ -x "$bindir/initdb" ] || { echo "pg_cluster: no PostgreSQL server programs (install postgresql)" >&2; exit 1; }

as_server() {  # runs a server program as the user that owns the cluster
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

stop() {
  if [ -f "$data/PG_VERSION" ]; then
    as_server "$bindir/pg_ctl" -D "$data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$data" "$socket"
  # The folder made to hold them (quilta-...) goes too, once empty.
  for parent in "$(dirname "$data")" "$(dirname "$socket")"; do
    case $(basename "$parent") in quilta-*) rmdir "$parent" 2>/dev/null || true ;; esac
  done
}

case $action in
  stop)
    stop
    ;;
  start)
    stop  # a cluster left by an interrupted run
    mkdir -p "$data" "$socket"
    if [ "$(id -u)" -eq 0 ]; then
      id postgres >/dev/null 2>&1 || { echo "pg_cluster: no system user postgres to run the server" >&2; exit 1; }
      chown postgres "$data" "$socket"
      # The server user must reach the folders it was given.
      chmod 755 "$(dirname "$data")" "$(dirname "$socket")" 2>/dev/null || true
    fi
    chmod 700 "$data"
    as_server "$bindir/initdb" -D "$data" -U quilta --auth=trust --encoding=UTF8 --locale=C.UTF-8 \
      >"$data.initdb.log" 2>&1 || { cat "$data.initdb.log" >&2; exit 1; }
    rm -f "$data.initdb.log"
    as_server "$bindir/pg_ctl" -D "$data" -w -t 60 -l "$data/server.log" \
      -o "-c listen_addresses='' -c unix_socket_directories='$socket' -p $port -c fsync=${QUILTA_PG_FSYNC:-off}" start >/dev/null ||
      { cat "$data/server.log" >&2; exit 1; }
    "$bindir/psql" -q -X -v ON_ERROR_STOP=1 -h "$socket" -p "$port" -U quilta -d postgres \
      -c "CREATE DATABASE quilta" >/dev/null
    "$bindir/psql" -q -X -v ON_ERROR_STOP=1 -h "$socket" -p "$port" -U quilta -d quilta \
      -c "CREATE EXTENSION postgis" >/dev/null
    # Stop the server once the test runner that started it has gone.
    runner=$PPID
    (
      trap '' HUP INT
      while kill -0 "$runner" 2>/dev/null; do sleep 2; done
      stop
    ) </dev/null >/dev/null 2>&1 &
    echo "PostgreSQL with PostGIS on $socket (port $port)"
    ;;
  *)
    echo "usage: $0 start|stop DATA_DIR SOCKET_DIR" >&2
    exit 2
    ;;
esac
