#!/usr/bin/env bash
# Tests of scripts/lib.sh and the scripts built on it, one group of cases a run:
#   tests/scripts/scripts_test.sh GROUP
# Each group works on a copy of scripts/ in a folder of its own, so that its build/
# can be a mount of its own. Ends with 77, saying why on the first line, where this
# machine cannot give a group what it needs.
set -u
. "$(dirname "$0")/../../scripts/lib.sh"
root=$ORU_ROOT
work=$(mktemp -d /tmp/oru-scripts-test.XXXXXX)
mounts=()
cleanup() {
  local m
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0

fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# Ends the group as skipped, saying why; a group that has failed already fails.
skip() {
  [ "$failures" -eq 0 ] || exit 1
  echo "skipped: $*"
  exit 77
}

# A copy of scripts/ at $work/$1/scripts, its build/ folder empty.
copy_scripts() {
  mkdir -p "$work/$1/build"
  cp -r "$root/scripts" "$work/$1/"
  echo "$work/$1"
}

# Mounts a small tmpfs with the options $2 on the folder $1, or skips the group.
mount_tmpfs() {
  local said
  [ "$(id -u)" -eq 0 ] || skip "mounting a tmpfs needs root; this run is not root"
  said=$(mount -t tmpfs -o "size=1m,$2" oru-scripts-test "$1" 2>&1) ||
    skip "mount -t tmpfs -o $2 was refused here: $said"
  mounts+=("$1")
}

# Fakes of the package tools, first in PATH from then on, so that nothing is
# installed: dpkg-query answers from $fakes/installed (a package a line); apt-get
# writes each call to $fakes/calls, fails `update` while the count in
# $fakes/update-failures is above 0, and refuses to install any package listed in
# $fakes/uninstallable; dpkg knows the i386 architecture once it is added; sleep
# only writes its call.
make_fakes() {
  fakes=$work/fakes
  mkdir -p "$fakes/bin"
  : >"$fakes/installed"
  : >"$fakes/uninstallable"
  : >"$fakes/calls"
  echo 0 >"$fakes/update-failures"
  cat >"$fakes/bin/apt-get" <<'FAKE'
#!/bin/sh
f=$ORU_TEST_FAKES
echo "apt-get $*" >>"$f/calls"
case " $* " in
*" update "*)
  left=$(cat "$f/update-failures")
  [ "$left" -gt 0 ] || exit 0
  echo $((left - 1)) >"$f/update-failures"
  echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (5000 != 4000). Mirror sync in progress?" >&2
  exit 100 ;;
*" install "*)
  for p; do
    if grep -qxF -- "$p" "$f/uninstallable"; then
      echo "E: Unable to correct problems, you have held broken packages." >&2
      exit 100
    fi
  done
  for p; do case "$p" in -*|install) ;; *) echo "$p" >>"$f/installed" ;; esac; done ;;
esac
FAKE
  cat >"$fakes/bin/dpkg-query" <<'FAKE'
#!/bin/sh
for p; do last=$p; done
grep -qxF -- "$last" "$ORU_TEST_FAKES/installed" || { echo "dpkg-query: no packages found matching $last" >&2; exit 1; }
printf 'install ok installed'
FAKE
  cat >"$fakes/bin/dpkg" <<'FAKE'
#!/bin/sh
echo "dpkg $*" >>"$ORU_TEST_FAKES/calls"
case "$1" in
--print-foreign-architectures) cat "$ORU_TEST_FAKES/architectures" 2>/dev/null ;;
--add-architecture) echo "$2" >>"$ORU_TEST_FAKES/architectures" ;;
esac
FAKE
  printf '#!/bin/sh\necho "sleep $*" >>"$ORU_TEST_FAKES/calls"\n' >"$fakes/bin/sleep"
  chmod +x "$fakes/bin/"*
  export ORU_TEST_FAKES=$fakes PATH="$fakes/bin:$PATH"
}

# Runs a command of a copy of scripts: `run_in COPY cmd args`; sets $out (stdout and
# stderr) and $status.
run_in() {
  local copy=$1
  shift
  status=0
  out=$(cd "$copy" && "$@" 2>&1 </dev/null) || status=$?
}

expect_status() {  # status what
  [ "$status" -eq "$1" ] || fail "$2: ended with $status, not $1; said: $out"
}

expect_said() {  # text what
  [[ "$out" == *"$1"* ]] || fail "$2: did not say \"$1\"; said: $out"
}

expect_unsaid() {  # text what
  [[ "$out" != *"$1"* ]] || fail "$2: said \"$1\"; said: $out"
}

# Whether the machine runs 32-bit programs is told by the kernel's refusal alone;
# a probe that cannot be started tells nothing, and nothing goes on as though the
# machine ran none.
group_probe() {
  # A program the kernel knows no format of: it answers ENOEXEC, as a kernel
  # without IA-32 emulation answers for the probe.
  local refused="$work/refused"
  printf '\0\0\0\0\0\0\0\0' >"$refused"
  chmod +x "$refused"
  (oru_try_i386_probe "$refused" && [ "$ORU_RUNS_32BIT" = no ]) ||
    fail "a program the kernel refuses (ENOEXEC) did not mean a machine that runs no 32-bit programs"

  local noexec readonly
  make_fakes
  noexec=$(copy_scripts noexec)
  mount_tmpfs "$noexec/build" noexec
  run_in "$noexec" scripts/test
  expect_status 1 "scripts/test with build/ mounted noexec"
  expect_said "cannot tell whether this machine runs 32-bit programs: the program written to try it could not be started: Permission denied" \
    "scripts/test with build/ mounted noexec"
  expect_unsaid "$ORU_NO_32BIT" "scripts/test with build/ mounted noexec"
  expect_unsaid "building" "scripts/test with build/ mounted noexec"
  run_in "$noexec" scripts/needs-32bit true
  expect_status 1 "a 32-bit test with build/ mounted noexec"
  expect_said "Permission denied" "a 32-bit test with build/ mounted noexec"

  readonly=$(copy_scripts readonly)
  mount_tmpfs "$readonly/build" ro
  run_in "$readonly" scripts/needs-32bit true
  expect_status 1 "a 32-bit test with build/ read-only"
  expect_said "cannot tell whether this machine runs 32-bit programs: no program could be written to try it: mktemp:" \
    "a 32-bit test with build/ read-only"
  expect_said "Read-only file system" "a 32-bit test with build/ read-only"
}

# Runs lib.sh's functions of a copy of scripts in a subshell, with the options the
# scripts set: `in_lib COPY commands`, on a machine taken to run 32-bit programs;
# sets $out and $status as run_in does. What the functions say is all that is said:
# the line of a script that stops at a failure is not asked for.
in_lib() {
  local copy=$1
  shift
  # Not on the left of ||, where set -e would be ignored.
  out=$(set -euo pipefail; . "$copy/scripts/lib.sh"; trap - ERR; ORU_RUNS_32BIT=yes; eval "$*" 2>&1 </dev/null)
  status=$?
}

# Where the copy $1 of scripts notes that the 32-bit Wine could not be installed.
note_in() {
  echo "$1/${ORU_NO_32BIT_WINE_NOTE#"$ORU_ROOT/"}"
}

calls_of() {  # what: the fakes' calls that begin with it, one a line
  grep -c "^$1" "$fakes/calls"
}

# A failed apt-get update is tried again, then passed over; an install that fails
# names what it lacks and stops, unless only the 32-bit Wine is lacking.
group_install() {
  local copy
  make_fakes
  copy=$(copy_scripts install)
  printf '%s\n' $ORU_PACKAGES | grep -vx xdotool >"$fakes/installed"

  echo 2 >"$fakes/update-failures"
  in_lib "$copy" oru_install_packages
  expect_status 0 "an update that fails twice"
  [ "$(calls_of "apt-get update")" -eq 3 ] && [ "$(calls_of "sleep $ORU_APT_UPDATE_PAUSE")" -eq 2 ] ||
    fail "an update that fails twice was not tried three times with a pause between: $(cat "$fakes/calls")"
  expect_unsaid "apt-get update failed" "an update that fails twice"
  grep -qx xdotool "$fakes/installed" || fail "an update that fails twice: nothing installed after it"

  sed -i /xdotool/d "$fakes/installed"
  : >"$fakes/calls"
  echo 99 >"$fakes/update-failures"
  in_lib "$copy" oru_install_packages
  expect_status 0 "an update that always fails, then an install that works"
  expect_said "== apt-get update failed $ORU_APT_UPDATE_TRIES times (E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (5000 != 4000). Mirror sync in progress?); installing from the package lists there are" \
    "an update that always fails"
  [ "$(calls_of "apt-get update")" -eq "$ORU_APT_UPDATE_TRIES" ] && [ "$(tail -n1 "$fakes/calls")" = "apt-get install -y -qq --no-install-recommends xdotool" ] ||
    fail "an update that always fails: not tried $ORU_APT_UPDATE_TRIES times, then the install: $(cat "$fakes/calls")"

  # What every script needs cannot be had: named, and nothing goes on.
  sed -i /xdotool/d "$fakes/installed"
  echo xdotool >"$fakes/uninstallable"
  : >"$fakes/calls"
  in_lib "$copy" 'oru_install_packages --32bit-wine; echo went on'
  expect_status 1 "an install of xdotool that fails"
  expect_said "E: Unable to correct problems, you have held broken packages.
could not install: xdotool" "an install of xdotool that fails"
  expect_unsaid "went on" "an install of xdotool that fails"
  expect_unsaid "32-bit Wine" "an install of xdotool that fails"

  # Only the 32-bit Wine cannot be had: said, noted for the tests, and the rest goes on.
  echo "$ORU_PACKAGES_32BIT" >"$fakes/uninstallable"
  rm -f "$fakes/architectures"
  : >"$fakes/calls"
  in_lib "$copy" 'oru_install_packages --32bit-wine; echo went on'
  expect_status 0 "an install of the 32-bit Wine that fails"
  expect_said "== $ORU_NO_32BIT_WINE ($ORU_PACKAGES_32BIT: E: Unable to correct problems, you have held broken packages.): everything else is built and run, and the tests of the 32-bit program are skipped; what apt said is in build/" \
    "an install of the 32-bit Wine that fails"
  expect_said "went on" "an install of the 32-bit Wine that fails"
  grep -qx xdotool "$fakes/installed" || fail "an install of the 32-bit Wine that fails: xdotool was not installed beside it"
  [ "$(head -n2 "$fakes/calls")" = "dpkg --print-foreign-architectures
dpkg --add-architecture i386" ] || fail "the i386 architecture was not added before the update: $(cat "$fakes/calls")"
  in_lib "$copy" oru_32bit_layer_runs
  expect_status 77 "the 32-bit tests once its install failed"
  [ "$out" = "$ORU_NO_32BIT_WINE" ] || fail "the 32-bit tests once its install failed said: $out"

  # What every script needs is there: nothing else is installed without asking.
  : >"$fakes/calls"
  in_lib "$copy" oru_install_packages
  expect_status 0 "an install without the 32-bit Wine"
  [ ! -s "$fakes/calls" ] || fail "an install without the 32-bit Wine called: $(cat "$fakes/calls")"

  # Installed at last: the note goes, and the tests need it again.
  : >"$fakes/uninstallable"
  in_lib "$copy" oru_install_packages --32bit-wine
  expect_status 0 "an install of the 32-bit Wine that works"
  [ ! -e "$(note_in "$copy")" ] || fail "the note of a failed install outlived the install"
  sed -i "/^$ORU_PACKAGES_32BIT\$/d" "$fakes/installed"
  in_lib "$copy" oru_32bit_layer_runs
  expect_status 1 "the 32-bit tests without the 32-bit Wine, no install tried"
  expect_said "$ORU_PACKAGES_32BIT is not installed" "the 32-bit tests without the 32-bit Wine, no install tried"
}

# On a machine that runs 32-bit programs, the 32-bit Wine missing: the tests of the
# 32-bit program fail, naming it, unless an install of it was tried and failed, and
# scripts/run does without it.
group_wine32_missing() {
  local copy why=0
  oru_runs_32bit_programs || why=$?
  [ "$why" -ne 1 ] || skip "$ORU_NO_32BIT"
  make_fakes
  copy=$(copy_scripts wine32)
  printf '%s\n' $ORU_PACKAGES >"$fakes/installed"
  echo "$ORU_PACKAGES_32BIT" >"$fakes/uninstallable"

  run_in "$copy" scripts/needs-32bit echo ran
  expect_status 1 "a 32-bit test, the 32-bit Wine never installed"
  expect_said "$ORU_PACKAGES_32BIT is not installed" "a 32-bit test, the 32-bit Wine never installed"
  run_in "$copy" env WINEARCH=win32 WINEPREFIX="$work/prefix" scripts/wine-prefix
  expect_status 1 "a 32-bit prefix, the 32-bit Wine never installed"
  expect_said "$ORU_PACKAGES_32BIT is not installed" "a 32-bit prefix, the 32-bit Wine never installed"
  expect_unsaid "Wine could not make the prefix" "a 32-bit prefix, the 32-bit Wine never installed"
  [ ! -e "$work/prefix" ] || fail "a 32-bit prefix was made without the 32-bit Wine"

  run_in "$copy" scripts/run
  [ ! -s "$fakes/calls" ] || fail "scripts/run without the 32-bit Wine called: $(cat "$fakes/calls")"
  expect_unsaid "$ORU_PACKAGES_32BIT" "scripts/run without the 32-bit Wine"

  printf 'E: Unable to correct problems, you have held broken packages.\n' >"$(note_in "$copy")"
  run_in "$copy" scripts/needs-32bit echo ran
  expect_status 77 "a 32-bit test once the install of the 32-bit Wine failed"
  [ "$out" = "skipped: $ORU_NO_32BIT_WINE" ] ||
    fail "a 32-bit test once the install of the 32-bit Wine failed said: $out"
}

# scripts/run, then scripts/test (which installs the 32-bit Wine and so marks the
# prefix as made for another Wine), then scripts/run again: the prefix is made anew,
# with no Wine server running for it, and the script goes on. A step that fails says
# what failed.
group_run_test_run() {
  local copy
  command -v wineserver >/dev/null || skip "Wine is not installed"
  copy=$(copy_scripts run-test-run)
  export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  echo "made by another Wine" >"$WINEPREFIX/dazirar-oru-wine.txt"
  in_lib "$copy" 'oru_prepare_wine_prefix; echo went on'
  expect_status 0 "a prefix made for another Wine"
  expect_said "making it anew" "a prefix made for another Wine"
  expect_said "went on" "a prefix made for another Wine"
  [ -f "$WINEPREFIX/system.reg" ] || fail "a prefix made for another Wine was not made anew"
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1

  # The copy holds no sources: scripts/run's build fails, and says so.
  run_in "$copy" scripts/run
  [ "$status" -ne 0 ] || fail "scripts/run with a build that fails ended with 0"
  expect_said 'run: stopped: "' "scripts/run with a build that fails"
  expect_said "failed (status" "scripts/run with a build that fails"
}

group=${1:-}
declare -F "group_$group" >/dev/null || { echo "usage: $0 GROUP (one of: $(declare -F | sed -n 's/^declare -f group_//p' | tr '\n' ' '))" >&2; exit 2; }
"group_$group"
[ "$failures" -eq 0 ] || exit 1
echo "passed: $group"
