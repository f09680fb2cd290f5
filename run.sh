#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillbox on a demo home.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
home="${QUILLBOX_HOME:-$PWD/demo-home}"
mkdir -p "$home"
exec build/qbox --home "$home" "$@"
