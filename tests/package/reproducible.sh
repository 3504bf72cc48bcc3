#!/usr/bin/env bash
# The release can be rebuilt byte for byte: packages the last commit twice, in two
# clones in different folders, one after the other (so at different times), with
# different user names, home folders and time zones, and once more from the commit
# as a source archive (`git archive`, no checkout) with the commit's time given, and
# requires the same zips every time and a SHA256SUMS that `sha256sum -c` accepts.
# Outside a checkout, packaging without a time must stop with one line that says so.
# A build folder's zip must follow the time it is given. Prints both zips' SHA-256.
#   tests/package/reproducible.sh [commit]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
commit=$(git -C "$root" rev-parse "${1:-HEAD}")
commit_time=$(git -C "$root" log -1 --format=%ct "$commit")
work=$(mktemp -d /tmp/oru-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0

package_in() {  # folder user zone [SOURCE_DATE_EPOCH]
  local dir=$1
  mkdir -p "$dir.home"
  (cd "$dir" && env -u SOURCE_DATE_EPOCH ${4:+SOURCE_DATE_EPOCH=$4} USER="$2" LOGNAME="$2" \
     HOME="$dir.home" TZ="$3" scripts/package >"$dir.log" 2>&1) || { tail -n 30 "$dir.log"; return 1; }
}

clone_at() {  # folder
  git clone -q "$root" "$1"
  git -C "$1" checkout -q "$commit"
}

same_zips() {  # folder folder
  local zip other
  for zip in "$1"/build/dist/*.zip; do
    other="$2/build/dist/$(basename "$zip")"
    if cmp -s "$zip" "$other"; then
      echo "same bytes: $(basename "$zip") in $(basename "$2")"
    else
      echo "DIFFERENT: $(basename "$zip") in $(basename "$2")"
      status=1
    fi
  done
  cmp -s "$1/build/dist/SHA256SUMS" "$2/build/dist/SHA256SUMS" || status=1
}

# The time of a zip's first entry, as seconds since 1970 (UTC).
zip_time() {
  python3 -c 'import calendar, sys, zipfile
print(calendar.timegm(zipfile.ZipFile(sys.argv[1]).infolist()[0].date_time + (0, 0, 0)))' "$1"
}

first="$work/first"
second="$work/elsewhere/second-clone"
archive="$work/archive/dazirar-oru-source"
clone_at "$first"
package_in "$first" builder UTC
sleep 2  # the second build starts later: nothing of the time may go into the zips
clone_at "$second"
package_in "$second" someone-else Pacific/Auckland

mkdir -p "$archive"
git -C "$root" archive "$commit" | tar -x -C "$archive"
if (cd "$archive" && env -u SOURCE_DATE_EPOCH scripts/package >"$archive.untimed.log" 2>&1); then
  echo "PACKAGED without a time outside a checkout"
  status=1
elif [ "$(wc -l <"$archive.untimed.log")" -ne 1 ] || ! grep -q SOURCE_DATE_EPOCH "$archive.untimed.log"; then
  echo "OUTSIDE A CHECKOUT, without a time, scripts/package said:"
  cat "$archive.untimed.log"
  status=1
fi
package_in "$archive" archivist Europe/Paris "$commit_time"

for build in "$first" "$second" "$archive"; do
  (cd "$build/build/dist" && sha256sum -c SHA256SUMS) || status=1
done
same_zips "$first" "$second"
same_zips "$first" "$archive"

# Another time given to the same build folder makes its zip again with that time;
# the commit's makes the same bytes as before.
zip=$(ls "$first"/build/dist/*-win64.zip)
cp "$zip" "$work/before.zip"
(cd "$first" && SOURCE_DATE_EPOCH=$((commit_time + 86400)) cmake --build --preset mingw-release >/dev/null)
if [ "$(zip_time "$zip")" != $((commit_time + 86400 - commit_time % 2)) ]; then
  echo "NOT MADE AGAIN for another time: $(basename "$zip") keeps $(zip_time "$zip")"
  status=1
fi
(cd "$first" && SOURCE_DATE_EPOCH=$commit_time cmake --build --preset mingw-release >/dev/null)
cmp -s "$zip" "$work/before.zip" || { echo "DIFFERENT once made again at the commit's time"; status=1; }

cat "$first/build/dist/SHA256SUMS"
exit $status
