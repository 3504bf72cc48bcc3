#!/usr/bin/env bash
# A small volume for the Win32 tests of writes that fail because the volume is full.
#
#   full-volume.sh mount DIR    mounts a 64 KB tmpfs on DIR (running as root); where
#                               that cannot be done, writes the reason to DIR.skip
#   full-volume.sh unmount DIR  unmounts it again
#
# The tests look for DIR.ready, written once the volume is mounted.
set -u
command=${1:-}
dir=${2:-}
[ -n "$command" ] && [ -n "$dir" ] || { echo "usage: $0 mount|unmount DIR" >&2; exit 2; }

unmount() {
  while mountpoint -q "$dir" 2>/dev/null; do umount "$dir" || break; done
  rm -f "$dir.ready" "$dir.skip"
}

case "$command" in
mount)
  unmount
  mkdir -p "$dir"
  if [ "$(id -u)" -ne 0 ]; then
    echo "mounting a small tmpfs needs root; this run is not root" >"$dir.skip"
  elif ! out=$(mount -t tmpfs -o size=64k,mode=0777 oru-full-volume "$dir" 2>&1); then
    echo "mount -t tmpfs was refused here: $out" >"$dir.skip"
  else
    touch "$dir.ready"
  fi
  exit 0
  ;;
unmount)
  unmount
  ;;
*)
  echo "usage: $0 mount|unmount DIR" >&2
  exit 2
  ;;
esac
