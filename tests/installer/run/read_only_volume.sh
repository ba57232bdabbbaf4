#!/usr/bin/env bash
# A read-only volume holding an installer image, for the run that cannot create its work directory.
#   read_only_volume.sh mount|unmount MOUNT_DIR [IMAGE]
# Mounting needs root. Without it nothing is mounted and the test skips, saying why.
set -u
action=$1 dir=$2
case "$action" in
  mount)
    mkdir -p "$dir"
    mountpoint -q "$dir" && umount "$dir"
    if ! mount -t tmpfs -o size=1m,mode=0777 lumora-read-only "$dir" 2>/dev/null; then
      echo "cannot mount a tmpfs (needs root): the read-only volume test will skip" >&2
      exit 0
    fi
    cp "$3" "$dir/inst.exe" && mount -o remount,ro "$dir" ;;
  unmount)
    mountpoint -q "$dir" && umount "$dir"
    exit 0 ;;
  *) echo "usage: read_only_volume.sh mount|unmount MOUNT_DIR [IMAGE]" >&2; exit 2 ;;
esac
