#!/usr/bin/env bash
# Installs what is missing, builds with warnings (the stricter tier too) as errors and the
# sanitizers, runs every test;
# where dpkg-deb is present, also builds and tests the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
build=${KALDER_TEST_BUILD:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKALDER_WERROR=ON -DKALDER_STRICT=ON -DKALDER_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
# The Debian package, from a Release build of its own, wherever Debian's tools are at hand.
if command -v dpkg-deb >/dev/null; then
  scripts/test_package.sh "${KALDER_PACKAGE_BUILD:-build-package}"
else
  echo "dpkg-deb not found: the Debian package is not built or tested"
fi
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" "$@"
