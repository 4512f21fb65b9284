#!/usr/bin/env bash
# Installs what is missing, builds Jumelix (Release) and runs it with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DJUMELIX_TESTS=OFF >/dev/null
cmake --build build-release --target jumelix
exec build-release/jumelix "$@"
