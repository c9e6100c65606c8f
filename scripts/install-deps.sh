#!/usr/bin/env bash
# Installs what building, testing and running VerUvav need on Debian 12.
# Idempotent: packages already present are left as they are.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  zlib1g-dev
  libsoci-dev libboost-dev libsoci-firebird4.0 libsoci-odbc4.0
  firebird3.0-server-core firebird3.0-utils libfbclient2 firebird-dev
  unixodbc tdsodbc
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
