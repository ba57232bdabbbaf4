#!/bin/sh
# check --against each previous installer: PACK UPDATE.exe DIR NAME... writes DIR/NAME.against.json
# from DIR/NAME.exe. check exits with 1 when the update does not give the new release, which is a
# verdict to keep here, not a failure; 2 (or worse) is.
set -u
pack=$1 update=$2 dir=$3
shift 3
for name in "$@"; do
  "$pack" check --json --against "$dir/$name.exe" "$update" >"$dir/$name.against.json"
  status=$?
  if [ "$status" -gt 1 ]; then
    echo "check --against $name.exe failed with $status" >&2
    exit 1
  fi
done
