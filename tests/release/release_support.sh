# Sourced by the release tests: their arguments, failing with a message, and packing an installer
# with a packer and a stub as a user of the release would.
#
# Arguments of every test: RELEASE_DIR (what tools/release wrote) PRODUCT_DIR (the product build's
# trees) WORK_DIR (the test's own scratch directory, emptied first).
set -eu
release=$1
product=$2
work=$3
rm -rf "$work"
mkdir -p "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

# The version every artifact carries: the packer's own.
version=$("$product/host/bin/lumora-pack" --version | awk '{ print $2 }')
[ -n "$version" ] || fail "the product's lumora-pack printed no version"
deb="$release/lumora-pack_${version}_amd64.deb"
tarball="$release/lumora-pack-$version-linux-x86_64.tar.gz"
zip="$release/lumora-pack-$version-windows-x64.zip"

# pack_and_check PACKER STUB SETUP NAME: packs a small stored 7z archive with the given programs
# into $work/NAME.exe; the packer's own check must accept the installer.
pack_and_check() {
  local packer=$1 stub=$2 setup=$3 name=$4
  local app="$work/$name-app"
  mkdir -p "$app"
  echo "1.0.0.0" >"$app/VERSION"
  (cd "$app" && "$LUMORA_7ZZ" a -bso0 -mx0 -mhc=off "$work/$name.7z" VERSION) ||
    fail "7zz could not make the archive"
  "$packer" pack --stub "$stub" --archive "$work/$name.7z" --setup "$setup" \
    --output "$work/$name.exe" >"$work/$name.pack.txt" 2>&1 ||
    { cat "$work/$name.pack.txt" >&2; fail "$packer could not pack with $stub"; }
  "$packer" check "$work/$name.exe" >"$work/$name.check.txt" 2>&1 ||
    { cat "$work/$name.check.txt" >&2; fail "$packer check does not accept $work/$name.exe"; }
}
