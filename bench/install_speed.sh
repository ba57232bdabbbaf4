#!/usr/bin/env bash
# Installation speed and memory against a peer: our installer and an NSIS installer (makensis,
# 64-bit target) carry the same payload, a 512 MiB archive (size in MiB as the first argument) and
# the sample setup program, and do the same job under Wine: write both to a temporary directory,
# run the setup program with --install-archive="..." and wait, delete both. The archive is stored
# as it is in both; the setup program is deflated in both (our MSZIP cabinet, NSIS's zlib). Each
# installer runs once to warm the caches and check the job, then RUNS times (default 3) through
# lumora-launch.exe --measure; the table shows the median wall time and peak memory of the
# installer process (its setup program is a separate process, not counted), the setup program
# started alone (the cost of one process start), and `cp` of the archive on the same disk for
# reference. Builds the project first (tools/build).
#
# Memory under Wine: "peak WS" is the Linux high-water mark of the installer's resident pages
# (VmHWM: Wine's own libraries and mapped file pages included); "peak private" is the largest
# sampled anonymous resident memory (Wine reports the current value as the peak pagefile usage).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
export LUMORA_BUILD_DIR="${LUMORA_BUILD_DIR:-$root/build}"
out="$LUMORA_BUILD_DIR"
mib="${1:-512}"
runs="${RUNS:-3}"
export DEBIAN_FRONTEND=noninteractive
command -v makensis >/dev/null || { apt-get update -qq; apt-get install -y -qq nsis >/dev/null; }
[ -x /usr/bin/time ] || apt-get install -y -qq time >/dev/null

echo "building (tools/build into $out) ..."
if ! "$root/tools/build" >"$out.bench-build.log" 2>&1; then
  tail -n 30 "$out.bench-build.log"; echo "build failed; full log: $out.bench-build.log"; exit 1
fi
rm -f "$out.bench-build.log"

bin="$out/win/bin"
pack="$out/host/bin/lumora-pack"
key='HKCU\Software\Velmar\Update\ClientState\{6642A25A-2BD8-484a-9040-5D965B0B55F0}'
source "$root/tools/wine-env"
work=$(mktemp -d "$out/bench-install.XXXXXX")
cleanup() {
  wine reg delete "$key" /f /reg:32 >/dev/null 2>&1 || true
  "$root/tools/wine-prefix" stop
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM
# One wineserver for the whole run, so that Wine's own start-up is not measured each time.
"$root/tools/wine-prefix" start
# The updater creates the client-state key before any installer runs; the stub tags it and records
# its result there, as in real use.
wine reg add "$key" /v ap /t REG_SZ /d stable /f /reg:32 >/dev/null 2>&1
winpath() { local p="Z:$1"; echo "${p//\//\\}"; }
# NSIS unpacks into a directory under the user's %TEMP%.
temp=$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp=$(wine winepath -u "$temp" 2>/dev/null | tr -d '\r')
[ -d "$temp" ] || { echo "cannot find the Wine %TEMP% directory" >&2; exit 1; }

# --- the payload and the two installers ----------------------------------------------------------
# Incompressible, as a packed archive is; the sample setup program does not open it unless asked.
head -c "$((mib * 1024 * 1024))" /dev/urandom >"$work/archive.7z"
cp "$bin/lumora-sample-setup.exe" "$work/setup.exe"
mkdir -p "$work/lumora" "$work/nsis"
"$pack" pack --stub "$bin/lumora-stub.exe" --archive "$work/archive.7z" --setup "$work/setup.exe" \
  --output "$work/lumora/installer.exe" >/dev/null

# NSIS checks the CRC of the whole installer before it starts (CRCCheck on, its default); "nocrc"
# is the same installer built with CRCCheck off, to show what that check costs.
nsis_script() {  # NAME: installer, nocrc, or empty (no payload: NSIS's own overhead)
  cat <<EOF
Unicode true
Target amd64-unicode
SetCompressor zlib
SetCompress off
SilentInstall silent
RequestExecutionLevel user
CRCCheck $([ "$1" = nocrc ] && echo off || echo on)
OutFile "$work/nsis/$1.exe"
Section
EOF
  [ "$1" = empty ] || cat <<EOF
  InitPluginsDir
  SetOutPath "\$PLUGINSDIR"
  File "/oname=archive.7z" "$work/archive.7z"
  SetCompress auto
  File "/oname=setup.exe" "$work/setup.exe"
  SetCompress off
  ExecWait '"\$PLUGINSDIR\\setup.exe" --install-archive="\$PLUGINSDIR\\archive.7z"' \$0
  Delete "\$PLUGINSDIR\\archive.7z"
  Delete "\$PLUGINSDIR\\setup.exe"
  SetOutPath "\$TEMP"
  SetErrorLevel \$0
EOF
  echo "SectionEnd"
}
for name in installer nocrc empty; do
  nsis_script "$name" >"$work/nsis/$name.nsi"
  makensis -V1 "$work/nsis/$name.nsi" >/dev/null
done

# --- runs ----------------------------------------------------------------------------------------
launch() {  # LABEL PROGRAM ARGUMENTS...: appends "LABEL ms ws-kib private-kib" to $work/results
  local label=$1; shift
  local report
  sync  # no write-back left over from the previous run slows this one
  report=$(cd "$(dirname "$1")" &&
    wine "$bin/lumora-launch.exe" --measure "$(winpath "$1")" "${@:2}" \
    2>/dev/null | tr -d '\r') || true
  local code; code=$(awk '$1 == "exit-code:" { print $2 }' <<<"$report")
  if [ "$code" != 0 ]; then echo "$label: failed: ${report:-no report}" >&2; exit 1; fi
  awk -v l="$label" '{ v[$1] = $2 } END { print l, v["elapsed-ms:"], v["peak-working-set-kib:"],
    v["peak-pagefile-kib:"] }' <<<"$report" >>"$work/results"
}
check_job() {  # LABEL: the setup program was given the archive, and nothing was left behind
  local label=$1 line
  line=$(tr -d '\r' <"$work/record" 2>/dev/null | grep -o 'command=.*' || true)
  rm -f "$work/record"
  case "${line,,}" in  # the stub keeps resource names upper-case
    *--install-archive=*.7z*) ;;
    *) echo "$label: the setup program was not run with the archive (${line:-no record})" >&2
       exit 1 ;;
  esac
  if [ -n "$(ls -A "$work/lumora" | grep -v '^installer.exe$' || true)" ] ||
     [ -n "$(find "$temp" -maxdepth 1 -name 'ns*.tmp' 2>/dev/null)" ]; then
    echo "$label: extracted files were left behind" >&2; exit 1
  fi
  echo "  $label: ${line#command=}"
}
copy() {  # cp of the archive on the same disk, wall time and peak RSS
  sync
  /usr/bin/time -f "%e %M" -o "$work/time" cp "$work/archive.7z" "$work/copy"
  rm -f "$work/copy"
  awk '{ printf "cp %.1f %d 0\n", $1 * 1000, $2 }' "$work/time" >>"$work/results"
}

: >"$work/results"
echo "checking the job (one warm-up run each):"
for installer in lumora/installer nsis/installer nsis/nocrc; do
  LUMORA_SETUP_RECORD="$(winpath "$work/record")" launch warmup "$work/$installer.exe"
  check_job "$installer"
done
launch warmup "$work/setup.exe"
copy
: >"$work/results"
for i in $(seq "$runs"); do
  launch lumora "$work/lumora/installer.exe"
  launch nsis "$work/nsis/installer.exe"
  launch nsis-nocrc "$work/nsis/nocrc.exe"
  launch setup-only "$work/setup.exe"
  copy
done

# --- report --------------------------------------------------------------------------------------
size() { stat -c %s "$1"; }
archive=$(size "$work/archive.7z")
setup=$(size "$work/setup.exe")
echo
echo "payload: $mib MiB archive (random), $setup byte setup program; $runs runs, warm cache, median"
printf '%-12s %14s %20s %10s %13s\n' "" "size (bytes)" "elapsed (min-max)" "peak WS" "peak private"
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for label in lumora nsis nsis-nocrc setup-only cp; do
  case $label in
    lumora) bytes=$(size "$work/lumora/installer.exe") ;;
    nsis) bytes=$(size "$work/nsis/installer.exe") ;;
    nsis-nocrc) bytes=$(size "$work/nsis/nocrc.exe") ;;
    setup-only) bytes=$setup ;;
    cp) bytes=$archive ;;
  esac
  ms=$(awk -v l=$label '$1 == l { print $2 }' "$work/results" | median)
  range=$(awk -v l=$label '$1 == l { if (n++ == 0 || $2 < lo) lo = $2; if ($2 > hi) hi = $2 }
    END { printf "%.2f-%.2f", lo / 1000, hi / 1000 }' "$work/results")
  ws=$(awk -v l=$label '$1 == l { print $3 }' "$work/results" | median)
  private=$(awk -v l=$label '$1 == l { print $4 }' "$work/results" | median)
  awk -v l=$label -v b="$bytes" -v ms="$ms" -v r="$range" -v ws="$ws" -v p="$private" 'BEGIN {
    printf "%-12s %14d %6.2f s (%s) %6.1f MiB %12s\n", l, b, ms / 1000, r, ws / 1024,
      l == "cp" ? "-" : sprintf("%.1f MiB", p / 1024) }'
done
awk -v stub="$(size "$bin/lumora-stub.exe")" -v empty="$(size "$work/nsis/empty.exe")" \
    -v ours="$(size "$work/lumora/installer.exe")" -v nsis="$(size "$work/nsis/installer.exe")" \
    -v archive="$archive" 'BEGIN {
  printf "\nbare stub: lumora-stub.exe %d bytes; NSIS empty installer (amd64-unicode) %d bytes\n",
    stub, empty
  printf "installer - archive (stub, deflated setup program, headers): lumora %d, NSIS %d bytes\n",
    ours - archive, nsis - archive }'
echo "(elapsed: CreateProcess to exit, under Wine with a running wineserver; setup-only: the setup"
echo " program started directly, the cost of one process start; peak memory: the installer process"
echo " alone, not its setup program)"
