#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillbox on a demo home with
# sample archives imported. Without a display it shows the demo on the
# command line instead of opening the main window.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
home="${QUILLBOX_HOME:-$PWD/demo-home}"
qbox=(build/qbox --home "$home")
if [ ! -e "$home/.demo-ready" ]; then
  scripts/demo-setup.sh "$home"
  touch "$home/.demo-ready"
fi
if [ $# -gt 0 ]; then exec "${qbox[@]}" "$@"; fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then exec "${qbox[@]}"; fi
echo "No display: the demo on the command line." >&2
scripts/demo-show.sh "$home"
