#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the benchmarks need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  libzip-dev libisal-dev zipcmp zip unzip libexpat1-dev libpugixml-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  fonts-liberation xvfb xauth libxcb1-dev
  libreoffice-calc-nogui
  python3 python3-openpyxl python3-xlsxwriter python3-lxml python3-distributed
  poppler-utils imagemagick
  clang libclang-rt-14-dev
  dpkg-dev file lintian desktop-file-utils appstream mandoc
  strace
)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

command=(apt-get install -y --no-install-recommends "${missing[@]}")
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && ${command[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
"${command[@]}"
