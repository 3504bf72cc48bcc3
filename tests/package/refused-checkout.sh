#!/usr/bin/env bash
# scripts/package in a checkout that git refuses to read (one another user owns:
# "dubious ownership", as in a container that mounts the source), without a time:
# it must stop and show git's own words, not take the checkout for an archive.
# Skipped, saying why, where this run cannot give a folder to another user.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/oru-refused-checkout.XXXXXX)
trap 'rm -rf "$work"' EXIT
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: giving a checkout to another user needs root; this run is not root"
  exit 77
fi
checkout="$work/checkout"
mkdir -p "$checkout" "$work/home"
cp -r "$root/scripts" "$checkout/"
git -C "$checkout" init -q
git -C "$checkout" add scripts
git -C "$checkout" -c user.name=someone -c user.email=someone@example.org commit -q -m scripts
chown -R 4321:4321 "$checkout"

# No configuration that trusts every folder: only this run's empty home.
status=0
said=$(cd "$checkout" && env -u SOURCE_DATE_EPOCH -u SUDO_UID -u XDG_CONFIG_HOME HOME="$work/home" \
  GIT_CONFIG_NOSYSTEM=1 LC_ALL=C scripts/package 2>&1 </dev/null) || status=$?
failed=0
if [ "$status" -eq 0 ]; then
  echo "FAILED: scripts/package went on in a checkout that git refuses"
  failed=1
fi
if [[ "$said" != *"detected dubious ownership in repository at '$checkout'"* ]]; then
  echo "FAILED: scripts/package did not show git's words"
  failed=1
fi
if [[ "$said" == *"no git checkout here"* ]]; then
  echo "FAILED: scripts/package took a checkout that git refuses for no checkout"
  failed=1
fi
echo "scripts/package said:"
echo "$said"
exit $failed
