#!/usr/bin/env bash
# Shows the demo home on the command line.
set -uo pipefail
cd "$(dirname "$0")/.."
home="$1"
q() { build/qbox --home "$home" "$@"; }
echo "== Databases (ID, kind, name, directory, messages)"
q db list
echo
echo "== The first messages of \"My Mail\""
q list "My Mail" --limit 10
first=$(q list "My Mail" --limit 1 | cut -f1)
if [ -n "$first" ]; then
  echo
  echo "== Message $first"
  q show "My Mail" "$first" | head -40
fi
echo
echo "== Word search in \"My Mail\": kernel AND boot (first 10 IDs)"
q search "My Mail" --and kernel --and boot | head -10
echo
echo "Open the main window with a display: ./run.sh (DISPLAY set), or run build/qbox --home $home ..."
