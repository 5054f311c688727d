#!/usr/bin/env bash
# Installs what is missing, builds and starts Vistrel.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-packages.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vistrel
exec build/vistrel "$@"
