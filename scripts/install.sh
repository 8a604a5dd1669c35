#!/usr/bin/env bash
# Installs every Debian package the build, the window, the tests, the package check and the
# benchmarks need, and the packages named as arguments (scripts that need more, such as a
# window manager).
# Silent and quick when all of them are there; runs apt-get update only when one is missing.
# fonts-wine brings a font made to Tahoma's metrics, the window's font; qt6-translations-l10n
# the toolkit's own texts in Russian. libqt6sql6-psql and libpq-dev reach a database on a
# PostgreSQL server; postgresql-15 is the server the tests and the server benchmark start.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libpq-dev postgresql-15 qt6-qpa-plugins libgsf-1-dev libssl-dev zlib1g-dev qt6-translations-l10n
  fonts-liberation fonts-dejavu-core fonts-wine fontconfig
  xvfb xauth imagemagick
  python3 python3-xlwt python3-xlrd python3-openpyxl unzip sqlite3
  lintian clang-format
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
