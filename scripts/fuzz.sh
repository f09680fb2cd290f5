#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan + UBSan) into build-fuzz/ and runs
# each for SECONDS (default 20). Exit status 1 on any finding, with the path of
# its reproducer. FUZZ_TARGETS="body words" limits the run to some harnesses.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
dir="${QB_FUZZ_DIR:-build-fuzz}"
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B "$dir" -DQB_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null \
  || { echo "fuzz: configure failed" >&2; exit 2; }
cmake --build "$dir" -j"$(nproc)" >/dev/null || { echo "fuzz: build failed" >&2; exit 2; }

targets="${FUZZ_TARGETS:-body mailreaders newsreaders cistext filing dbase words headers}"
data=""
for d in ../shared/data /work/shared/data; do [ -e "$d/linux-mips-1996-sample.mbox" ] && data="$d" && break; done

# Seeds: the project's samples, its saved reproducers, and a few real messages.
seed() {
  local t="$1" out="$2"
  mkdir -p "$out"
  [ -d "fuzz/seeds/$t" ] && cp -n fuzz/seeds/"$t"/* "$out"/ 2>/dev/null
  [ -d "tests/data/fuzz/$t" ] && cp -n tests/data/fuzz/"$t"/* "$out"/ 2>/dev/null
  case "$t" in
    mailreaders|newsreaders|body|headers|words)
      if [ -n "$data" ]; then
        head -c 60000 "$data/linux-mips-1996-sample.mbox" > "$out/real-mbox"
        [ -e "$data/linux-mips-1996-sample-news.mbox" ] && head -c 60000 "$data/linux-mips-1996-sample-news.mbox" > "$out/real-news"
      fi ;;
    cistext)
      for s in ozwin1 ozwin2 ozcis tapcis5 tapcis6 autosig goldencompass virtualaccess navcis-save; do
        [ -d "samples/$s" ] && find "samples/$s" -type f -size -200k -exec cp -n {} "$out"/ \; ; done ;;
    filing)
      for s in wincim doscim csnav compuserve3; do
        [ -d "samples/$s" ] && find "samples/$s" -type f -size -200k -exec cp -n {} "$out"/ \; ; done ;;
    dbase)
      for s in ciscomm navcis16 navcis17 oui; do
        [ -d "samples/$s" ] && find "samples/$s" -type f -iname '*.dbf' -size -200k -exec cp -n {} "$out"/ \; ; done ;;
  esac
  true
}

# The readers' harnesses create tables for every input: on a memory file
# system their syncs cost nothing, which gives many more runs a second.
[ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm

status=0
for t in $targets; do
  bin="$dir/fuzz/fuzz_$t"
  [ -x "$bin" ] || { echo "fuzz: no harness $t" >&2; status=2; continue; }
  corpus="$dir/corpus/$t"; findings="$dir/findings/$t"
  seed "$t" "$corpus"
  mkdir -p "$findings"
  log="$dir/fuzz-$t.log"
  "$bin" "$corpus" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=25 \
      -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1
  rc=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  if [ $rc -ne 0 ]; then
    status=1
    echo "fuzz: $t FOUND A FAULT (exit $rc); log $log" >&2
    for a in "$findings"/*; do [ -e "$a" ] && echo "  reproducer: $a" >&2; done
    grep -m3 -E 'ERROR:|runtime error|SUMMARY' "$log" >&2
  else
    echo "fuzz: $t ok, ${execs:-?} runs, coverage ${cov:-?}" >&2
  fi
done
exit $status
