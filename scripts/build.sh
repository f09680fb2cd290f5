#!/usr/bin/env bash
# Configures and builds into build/ (or $QB_BUILD_DIR). Uses ccache when the
# machine has it.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${QB_BUILD_DIR:-build}"
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
