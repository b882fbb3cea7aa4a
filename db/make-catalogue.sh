#!/usr/bin/env bash
# Creates the local jingle catalogue OUT (a Firebird database file, SQL dialect 1, UTF8) from
# db/schema.sql and db/sample.sql through the embedded engine: no server is needed.
# Nothing is done when OUT already exists and is newer than both scripts.
#   db/make-catalogue.sh OUT.fdb
set -euo pipefail

if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $0 OUT.fdb" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
out=$1
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac

if [ -s "$out" ] && [ "$out" -nt "$here/schema.sql" ] && [ "$out" -nt "$here/sample.sql" ]; then
  exit 0
fi
command -v isql-fb >/dev/null || { echo "isql-fb not found (package firebird3.0-utils)" >&2; exit 1; }
case "$out" in *"'"*) echo "$0: a path with a single quote is not supported: $out" >&2; exit 2 ;; esac

mkdir -p "$(dirname "$out")"
tmp="$out.new.$$"
work=$(mktemp -d)
trap 'rm -rf "$work" "$tmp"' EXIT

# The embedded engine needs a writable lock folder; the default one belongs to the firebird
# group. Nothing else has the new file open, so a private folder is safe for creating it.
if [ -z "${FIREBIRD_LOCK:-}" ] && ! [ -w /tmp/firebird ] && ! { [ ! -e /tmp/firebird ] && [ -w /tmp ]; }; then
  export FIREBIRD_LOCK="$work/lock"
  mkdir -p "$FIREBIRD_LOCK"
fi

{
  echo "SET SQL DIALECT 1;"
  echo "CREATE DATABASE '$tmp' USER 'SYSDBA' PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8;"
  echo "INPUT '$here/schema.sql';"
  echo "INPUT '$here/sample.sql';"
  echo "COMMIT;"
} > "$work/create.sql"

if ! isql-fb -q -bail -ch UTF8 -i "$work/create.sql" > "$work/log" 2>&1; then
  cat "$work/log" >&2
  echo "$0: could not create $out" >&2
  exit 1
fi
# The embedded engine opens the file read-write even to read it.
chmod 0660 "$tmp"
mv -f "$tmp" "$out"
