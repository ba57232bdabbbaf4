#!/usr/bin/env bash
# Builds and runs the fuzz target for lumora-pack's check by hand, until the shared fuzzing tree
# takes it over (CMakeLists.txt beside this script). Seeds are real files of the build tree: the
# bare stub and the packed installers of each layout, the signed one among them.
#   tests/fuzz/packer/build.sh [SECONDS]   (default 60; libFuzzer options may follow)
set -eu
root=$(cd "$(dirname "$0")/../../.." && pwd)
out="${LUMORA_BUILD_DIR:-$root/build}/fuzz/packer"
seconds="${1:-60}"
shift || true
"$root/tools/install-packages"
mkdir -p "$out/seeds" "$out/corpus"
packer="$root/tools/packer"
clang++-14 -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$packer" -I"$root/src" \
  "$root/tests/fuzz/packer_check_fuzz.cpp" "$packer/check_command.cpp" "$packer/file_io.cpp" "$packer/file_io_posix.cpp" \
  "$packer/installer_report.cpp" "$packer/payload_layout.cpp" "$packer/payload_rules.cpp" \
  "$packer/pe_checksum.cpp" "$packer/pe_image.cpp" "$packer/resource.cpp" \
  "$packer/resource_listing.cpp" "$packer/utf_text.cpp" "$packer/icon_file.cpp" \
  "$packer/version_info.cpp" \
  -o "$out/packer_check_fuzz"
win="${LUMORA_BUILD_DIR:-$root/build}/win"
for seed in "$win/bin/lumora-stub.exe" "$win"/fixtures/packed/*.exe "$win"/fixtures/face/*.exe; do
  [ -f "$seed" ] && cp "$seed" "$out/seeds/"
done
if [ -z "$(ls -A "$out/seeds")" ]; then
  echo "no seeds: build the Windows tree first (tools/build)" >&2
  exit 1
fi
cd "$out"
exec ./packer_check_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$@" corpus seeds
