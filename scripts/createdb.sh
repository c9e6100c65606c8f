#!/usr/bin/env bash
# Creates a fresh back-office database from db/firebird/ with isql-fb.
#
#   scripts/createdb.sh [--sample] FILE.fdb        embedded engine, no server
#   scripts/createdb.sh [--sample] HOST:/path.fdb  on a Firebird server
#                                                  (ISC_USER / ISC_PASSWORD)
#
# --sample adds the demo data of team 001 (customers, products, orders).
# An existing local file is never overwritten.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
scripts="$root/db/firebird"

sample=0
if [ "${1:-}" = "--sample" ]; then
  sample=1
  shift
fi
if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $0 [--sample] FILE.fdb | HOST:/path/FILE.fdb" >&2
  exit 2
fi

target="$1"
if [[ "$target" != *:* ]]; then
  target="$(realpath -m -- "$target")"
  if [ -e "$target" ]; then
    echo "$target already exists; remove it first to create a fresh database" >&2
    exit 1
  fi
  mkdir -p -- "$(dirname -- "$target")"
fi

work="$(mktemp)"
trap 'rm -f "$work"' EXIT
{
  printf 'SET SQL DIALECT 3;\n'
  # The owner is SYSDBA, so that a connection as SYSDBA holds every right.
  printf "CREATE DATABASE '%s' USER 'SYSDBA' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1252;\n" \
    "${target//\'/\'\'}"
  cat "$scripts/schema.sql" "$scripts/procedures.sql"
  if [ "$sample" -eq 1 ]; then cat "$scripts/sample_data.sql"; fi
} >"$work"

isql-fb -q -b -i "$work"

# A page cache of its own (256 pages of 8 KB): an embedded run keeps the
# engine inside the program, and the server mode's default cache (2,048 pages
# in Super mode) would otherwise fill as a large descarga goes in.
ISC_USER="${ISC_USER:-SYSDBA}" ISC_PASSWORD="${ISC_PASSWORD:-masterkey}" gfix -buffers 256 "$target"
