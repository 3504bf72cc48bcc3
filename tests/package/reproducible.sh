#!/usr/bin/env bash
# The release can be rebuilt byte for byte: packages the last commit twice, in two
# clones in different folders, one after the other (so at different times), with
# different user names, home folders and time zones, and requires the same zips and
# a SHA256SUMS that `sha256sum -c` accepts. Prints both zips' SHA-256.
#   tests/package/reproducible.sh [commit]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
commit=${1:-HEAD}
work=$(mktemp -d /tmp/oru-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT

package_in() {  # folder user zone
  local dir=$1
  git clone -q "$root" "$dir"
  git -C "$dir" checkout -q "$(git -C "$root" rev-parse "$commit")"
  mkdir -p "$dir.home"
  (cd "$dir" && env -u SOURCE_DATE_EPOCH USER="$2" LOGNAME="$2" HOME="$dir.home" TZ="$3" \
     scripts/package >"$dir.log" 2>&1) || { tail -n 30 "$dir.log"; return 1; }
}

package_in "$work/first" builder UTC
sleep 2  # the second build starts later: nothing of the time may go into the zips
package_in "$work/elsewhere/second-clone" someone-else Pacific/Auckland

status=0
for build in "$work/first" "$work/elsewhere/second-clone"; do
  (cd "$build/build/dist" && sha256sum -c SHA256SUMS) || status=1
done
for zip in "$work"/first/build/dist/*.zip; do
  other="$work/elsewhere/second-clone/build/dist/$(basename "$zip")"
  if cmp -s "$zip" "$other"; then
    echo "same bytes: $(basename "$zip")"
  else
    echo "DIFFERENT: $(basename "$zip")"
    status=1
  fi
done
cmp -s "$work/first/build/dist/SHA256SUMS" "$work/elsewhere/second-clone/build/dist/SHA256SUMS" || status=1
cat "$work/first/build/dist/SHA256SUMS"
exit $status
