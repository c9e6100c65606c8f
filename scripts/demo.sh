#!/usr/bin/env bash
# Runs VerUvav once on a demonstration job and shows its log.
# This version runs the road that needs no database: an action the program
# does not recognise, which it logs as invalid and ends with exit code 0.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$ROOT/build"

"$ROOT/scripts/install-deps.sh"
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" -j2 --target veruvav

JOB="$(mktemp -d /tmp/veruvav-demo-XXXXXX)"
mkdir -p "$JOB/in"
echo "Job directory: $JOB"

set +e
"$BUILD_DIR/veruvav" -I "$JOB/in/descarga.dsg" -O "$JOB/out/retorno.zfx" -S "demo" -U "demo" -A ZZ
code=$?
set -e
echo "Exit code: $code"
echo "Log ($JOB/debug_veruvav.txt, shown in UTF-8):"
iconv -f WINDOWS-1252 -t UTF-8 "$JOB/debug_veruvav.txt"
echo "rotate.ini:"
cat "$JOB/rotate.ini"
