#!/usr/bin/env bash
# Builds the Debian package, build-deb/tabrend_VERSION_ARCH.deb: the two programs built with
# Debian's own compiler and hardening flags alone (build type None, as Debian builds CMake
# projects), packed by CPack and checked by lintian.
# Install it with: sudo apt install ./build-deb/tabrend_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# The package ships stripped programs: debugging information would only slow the build.
export DEB_CXXFLAGS_MAINT_STRIP=-g
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=None -DTABREND_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-deb -j2
rm -f build-deb/tabrend_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
deb=$(ls build-deb/tabrend_*.deb)
lintian --fail-on error "$deb"
echo "Built $deb"
