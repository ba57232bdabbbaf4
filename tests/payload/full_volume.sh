#!/usr/bin/env bash
# Maps a small tmpfs to Wine drive Q: for the disk-full tests, and removes it again.
#   full_volume.sh mount|unmount MOUNT_DIR WINEPREFIX
# Mounting needs root. Without it the drive stays unmapped and the tests skip, saying why.
set -u
action=$1 dir=$2 prefix=$3
link="$prefix/dosdevices/q:"
case "$action" in
  mount)
    mkdir -p "$dir"
    mountpoint -q "$dir" && umount "$dir"
    rm -f "$link"
    if ! mount -t tmpfs -o size=512k,mode=0777 lumora-full-volume "$dir"; then
      echo "cannot mount a tmpfs (needs root): the disk-full tests will skip" >&2
      exit 0
    fi
    ln -s "$dir" "$link" ;;
  unmount)
    rm -f "$link"
    mountpoint -q "$dir" && umount "$dir"
    exit 0 ;;
  *) echo "usage: full_volume.sh mount|unmount MOUNT_DIR WINEPREFIX" >&2; exit 2 ;;
esac
