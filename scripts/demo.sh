#!/usr/bin/env bash
# Runs one descarga end to end against an embedded Firebird database:
#   1. builds veruvav and fextool;
#   2. creates the back-office database from db/firebird/ with the sample
#      customers, products and orders of team 001;
#   3. builds a sample descarga with fextool from the readable tables in
#      tests/fixtures/descarga/ (one CSV per device table);
#   4. runs veruvav -A DF and shows the exit code, the log and the retorno;
#   5. runs the same package again: the known-package road, exit code 9.
# Everything goes under a work directory (default ./out/demo); nothing needs a
# database server.
#
#   scripts/demo.sh [WORK_DIR]
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$ROOT/build"
WORK="$(realpath -m -- "${1:-$ROOT/out/demo}")"

"$ROOT/scripts/install-deps.sh"
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" -j2 --target veruvav fextool

rm -rf -- "$WORK"
mkdir -p "$WORK/tables" "$WORK/in" "$WORK/out"
echo "== Work directory: $WORK"

echo "== Back-office database (embedded Firebird) with the sample data of team 001"
"$ROOT/scripts/createdb.sh" --sample "$WORK/backoffice.fdb" >/dev/null
echo "$WORK/backoffice.fdb"

echo "== Sample descarga built with fextool from tests/fixtures/descarga/*.csv"
for csv in "$ROOT"/tests/fixtures/descarga/*.csv; do
  base="$(basename "$csv" .csv)"  # <file ID>-<TABLE>
  "$BUILD_DIR/fextool" create "$WORK/tables/${base#*-}.FEX" "$csv" --id "${base%%-*}" --table "${base#*-}"
done
"$BUILD_DIR/fextool" build "$WORK/tables" "$WORK/in/descarga.zfx"
"$BUILD_DIR/fextool" list "$WORK/in/descarga.zfx"

cat >"$WORK/veruvav.ini" <<EOF
[VerUvav]
Database=$WORK/backoffice.fdb
Usuario=SYSDBA
Senha=masterkey
Serv=
SGBD=InterBase
EOF
export VERUVAV_CONFIG="$WORK/veruvav.ini"

run_job() {
  echo "== veruvav -I in/descarga.zfx -O out/retorno.zfx -U DEMO -S \"Demonstração\" -A DF"
  set +e
  "$BUILD_DIR/veruvav" -I "$WORK/in/descarga.zfx" -O "$WORK/out/retorno.zfx" \
    -U DEMO -S "$(printf 'Demonstra\xe7\xe3o')" -A DF
  code=$?
  set -e
  echo "== Exit code: $code"
}

run_job
echo "== Log ($WORK/debug_veruvav.txt, shown in UTF-8)"
iconv -f WINDOWS-1252 -t UTF-8 "$WORK/debug_veruvav.txt"
echo "== Retorno ($WORK/out/retorno.zfx)"
"$BUILD_DIR/fextool" dump "$WORK/out/retorno.zfx"

echo
echo "== The same package again: already processed, not imported again (exit code 9)"
: >"$WORK/debug_veruvav.txt"
run_job
echo "== Log of the second run"
iconv -f WINDOWS-1252 -t UTF-8 "$WORK/debug_veruvav.txt"
echo "== Rebuilt retorno"
"$BUILD_DIR/fextool" dump "$WORK/out/retorno.zfx"
