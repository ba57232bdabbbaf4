#!/usr/bin/env bash
# check_corpus.sh LUMORA_PACK DIRECTORY: the Linux build's "check --json" of every installer of the
# parity corpus (verdict_parity_test.cpp), written beside it as NAME.linux.json, for the test that
# runs the Windows build and the stub on the same installers. Run from the directory, with the
# installer's name as it stands, so that both builds report the same "installer".
set -u
pack=$1
cd "$2" || exit 1
status=0
for installer in *.exe; do
  [ "$installer" = setup.exe ] && continue
  "$pack" check --json "$installer" >"${installer%.exe}.linux.json"
  code=$?
  # 0 accepted, 1 refused; anything else is the packer failing on the installer.
  if [ "$code" -gt 1 ]; then
    echo "$installer: lumora-pack check ended with $code" >&2
    status=1
  fi
done
exit $status
