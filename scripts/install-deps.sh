#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks need
# (only those that are missing).
set -euo pipefail
pkgs=(cmake g++ make pkg-config libsqlite3-dev libgtest-dev libgmock-dev qt6-base-dev xvfb notmuch poppler-utils
      clang libclang-rt-14-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
