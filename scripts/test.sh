#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and the sanitizers, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
build=${KALDER_TEST_BUILD:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKALDER_WERROR=ON -DKALDER_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" "$@"
