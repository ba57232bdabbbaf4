#!/usr/bin/env bash
# Packing speed and memory on a large payload: packs a 1 GiB archive (size in MiB as the first
# argument) and compares with `cp` of the same file on the same disk. Reports wall time and peak
# resident memory of both. Needs a built tree (tools/build).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out="${LUMORA_BUILD_DIR:-$root/build}"
pack="$out/host/bin/lumora-pack"
stub="$out/win/bin/lumora-stub.exe"
setup="$out/win/bin/lumora-launch.exe"
mib="${1:-1024}"
[ -x /usr/bin/time ] || { export DEBIAN_FRONTEND=noninteractive; apt-get install -y -qq time >/dev/null; }
for f in "$pack" "$stub" "$setup"; do
  [ -f "$f" ] || { echo "missing $f: run tools/build first" >&2; exit 1; }
done
work=$(mktemp -d "$out/bench-pack.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Incompressible data, as a packed archive is.
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$work/archive.7z"
sync

measure() {  # label, command...: prints seconds and peak RSS
  local label=$1; shift
  sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null || true
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
  read -r seconds kib < "$work/time"
  awk -v l="$label" -v s="$seconds" -v k="$kib" -v m="$mib" \
    'BEGIN { printf "%-6s %7.2f s  %8.1f MiB/s  peak RSS %7.1f MiB\n", l, s, m / (s + 0.001), k / 1024 }'
  rm -f "$work/copy" "$work/installer.exe"
}

echo "payload: $mib MiB archive, $(stat -c %s "$setup") byte setup program (cabinet)"
measure cp cp "$work/archive.7z" "$work/copy"
measure pack "$pack" pack --stub "$stub" --archive "$work/archive.7z" --setup "$setup" \
  --cabinet-time 1700000000 --output "$work/installer.exe"
"$pack" pack --stub "$stub" --archive "$work/archive.7z" --setup "$setup" \
  --cabinet-time 1700000000 --output "$work/installer.exe" >/dev/null
measure check "$pack" check "$work/installer.exe"
