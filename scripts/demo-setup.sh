#!/usr/bin/env bash
# Fills a demo home: a mail database with the sample mailing-list archive and
# the CompuServe sample mail, forum and newsgroup databases from the sample
# files, and word indexes.
set -uo pipefail
cd "$(dirname "$0")/.."
home="$1"
q() { build/qbox --home "$home" "$@"; }
data=""
for d in ../shared/data /work/shared/data; do [ -e "$d/linux-mips-1996-sample.mbox" ] && data="$d" && break; done

echo "Setting up the demo in $home" >&2
q db add-mail "My Mail" --address "71234,567" --alt "ann@home.example" --alt "linux@cthulhu.engr.sgi.com" >/dev/null
q db add-forum "Demo Forum" >/dev/null
imp() { echo "import: $*" >&2; q import "$@" >&2 || echo "  (import ended with an error)" >&2; }
if [ -n "$data" ]; then
  imp --reader "Unix Mail" --mail-db "My Mail" "$data/linux-mips-1996-sample.mbox"
  imp --reader "Unix News" "$data/linux-mips-1996-sample-news.mbox"
fi
for r in "AUTOSIG:autosig" "CISCOMM:ciscomm" "CompuServe 3.x:compuserve3" "CSNav:csnav" "DOSCIM:doscim" \
         "GoldenCompass:goldencompass" "NavCIS Save format:navcis-save" "NavCIS 1.6x:navcis16" \
         "NavCIS 1.7x-:navcis17" "OUI:oui" "OzCIS:ozcis" "OzWin I:ozwin1" "OzWin II:ozwin2" \
         "TAPCIS 5.x:tapcis5" "TAPCIS 6.x:tapcis6" "VirtualAccess:virtualaccess" "WinCIM:wincim"; do
  reader="${r%%:*}"; dir="samples/${r#*:}"
  imp --reader "$reader" --mail-db "My Mail" --forum-db "Demo Forum" --dir "$dir" --masks "*"
done
q db list | while IFS=$'\t' read -r id kind name dir count; do
  echo "index: $name" >&2
  q index "$name" >/dev/null || true
done
# The main window opens on the mail database.
q db select "My Mail" >/dev/null
