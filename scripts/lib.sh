# Shared by scripts/run and scripts/test: installing what is missing, the virtual
# display, and the builds. Sourced, not run.

ORU_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ORU_PACKAGES="cmake make g++ python3 libgtest-dev libbenchmark-dev clang
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 xvfb xdotool imagemagick x11-utils fonts-wine fonts-liberation
  netcat-openbsd iproute2 tshark"
# The 32-bit Wine, installed for the tests only, and only where 32-bit programs run:
# elsewhere it could run nothing, and Debian's wine command would pick its loader
# and fail.
ORU_PACKAGES_32BIT="wine32:i386"
ORU_NO_32BIT_WINE="the 32-bit Wine could not be installed"
# Written by scripts/test when the 32-bit Wine could not be installed, with what apt
# said; removed once it is installed. It tells the tests of the 32-bit program, run
# then or later, that an install was tried and failed: they are skipped, saying so.
# Where none was tried, a missing 32-bit Wine fails them, naming it.
ORU_NO_32BIT_WINE_NOTE="$ORU_ROOT/build/32bit-wine-not-installed.txt"

# Wine's loaders as Debian installs them. Nothing else names them: Debian's `wine`
# command starts the 32-bit one whenever wine32 is installed, for every program, and
# so fails on a machine that runs no 32-bit programs.
ORU_WINE_LOADER_64=/usr/lib/wine/wine64
ORU_WINE_LOADER_32=/usr/lib/wine/wine
ORU_NO_32BIT="this machine runs no 32-bit programs"

oru_say() { printf '== %s\n' "$*"; }

# A step that fails in a script that stops at the first failure (set -e) says what
# failed, and how, before the script ends: nothing stops without a word.
oru_step_failed() {
  printf '%s: stopped: "%s" failed (status %s)\n' "$(basename "$0")" "$2" "$1" >&2
}
case $- in
*e*)
  set -E
  trap 'oru_step_failed $? "$BASH_COMMAND"' ERR ;;
esac

# Whether this machine runs 32-bit x86 programs, found by running one: a static
# i386 Linux program of 96 bytes, written here, whose only instructions end it with
# status 42. Only the kernel's refusal of it ("Exec format error", as a kernel
# without IA-32 emulation answers) means no. A probe that cannot be written or
# started for another reason (build/ read-only or mounted noexec) tells nothing:
# the answer is then "cannot tell", and ORU_32BIT_UNKNOWN says why. Needs nothing
# installed; the answer is kept for the rest of this shell.
# Returns 0 (runs them), 1 (runs none) or 2 (cannot tell).
ORU_RUNS_32BIT=""
ORU_32BIT_UNKNOWN=""
oru_runs_32bit_programs() {
  if [ -z "$ORU_RUNS_32BIT" ]; then
    local probe="" said=""
    if ! said=$(mkdir -p "$ORU_ROOT/build" 2>&1) || ! probe=$(mktemp "$ORU_ROOT/build/i386-probe.XXXXXX" 2>&1); then
      oru_cannot_tell_32bit "no program could be written to try it: ${said:-$probe}"
      probe=""
    elif ! said=$(oru_write_i386_probe "$probe" 2>&1); then
      oru_cannot_tell_32bit "the program written to try it could not be made: $said"
    else
      oru_try_i386_probe "$probe"
    fi
    [ -n "$probe" ] && rm -f "$probe"
  fi
  case "$ORU_RUNS_32BIT" in
  yes) return 0 ;;
  no) return 1 ;;
  *) return 2 ;;
  esac
}

oru_cannot_tell_32bit() {
  ORU_RUNS_32BIT=unknown
  ORU_32BIT_UNKNOWN="cannot tell whether this machine runs 32-bit programs: $1"
}

oru_write_i386_probe() {
  # ELF header (32-bit, little-endian, executable, i386, entry 0x08048054), one
  # loadable segment of the whole file at 0x08048000, then
  # mov eax,1 / mov ebx,42 / int 0x80: the 32-bit exit call.
  { printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0'
    printf '\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0'
    printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0'
    printf '\270\1\0\0\0\273\52\0\0\0\315\200'; } >"$1" && chmod +x "$1"
}

# Runs the program $1 that ends with status 42 where it runs, and sets
# ORU_RUNS_32BIT from what happened. Bash, which starts it, names the kernel's
# answer in its message: ENOEXEC is "cannot execute binary file: Exec format
# error", anything else (EACCES from a noexec mount is "Permission denied") is not a
# refusal of 32-bit programs.
oru_try_i386_probe() {
  local said status=0
  said=$(export LC_ALL=C; "$1" </dev/null 2>&1) || status=$?
  if [ "$status" -eq 42 ]; then
    ORU_RUNS_32BIT=yes
  elif [ "$status" -eq 126 ] && [[ "$said" == *"Exec format error"* ]]; then
    ORU_RUNS_32BIT=no
  elif [ "$status" -eq 126 ] || [ "$status" -eq 127 ]; then
    oru_cannot_tell_32bit "the program written to try it could not be started: ${said##*: } ($1)"
  else
    oru_cannot_tell_32bit "the program written to try it ended with status $status instead of 42${said:+: $said}"
  fi
}

# Whether the tests of the 32-bit program can run here. When they cannot, says why
# in one line and returns 77 where that is how this machine is (it runs no 32-bit
# programs, or its 32-bit Wine could not be installed), which the tests' runner
# counts as skipped, or 1 where something is wrong (whether it runs them could not
# be told, or the 32-bit Wine was never installed).
oru_32bit_layer_runs() {
  local status=0
  oru_runs_32bit_programs || status=$?
  case "$status" in
  0) ;;
  1) echo "$ORU_NO_32BIT"; return 77 ;;
  *) echo "$ORU_32BIT_UNKNOWN"; return 1 ;;
  esac
  oru_installed "$ORU_PACKAGES_32BIT" && return 0
  if [ -f "$ORU_NO_32BIT_WINE_NOTE" ]; then
    echo "$ORU_NO_32BIT_WINE"
    return 77
  fi
  echo "$ORU_PACKAGES_32BIT is not installed (scripts/test installs it)"
  return 1
}

# The Wine loader that runs programs of $WINEARCH (win64 unless set) here. Where a
# win32 one cannot run, says why on stderr and fails as oru_32bit_layer_runs does.
oru_wine_loader() {
  case "${WINEARCH:-win64}" in
  win32)
    oru_32bit_layer_runs >&2 || return $?
    echo "$ORU_WINE_LOADER_32" ;;
  *) echo "$ORU_WINE_LOADER_64" ;;
  esac
}

# Sets ORU_WINE to the command that runs Wine for programs of $WINEARCH, to be
# followed by what Wine runs: `"${ORU_WINE[@]}" prog.exe args`, `... wineboot -i`;
# `exec` keeps the process, as env does. The 64-bit loader is told to start the
# programs it starts itself, as Debian's command tells it when it runs it; the
# 32-bit one is started as that command starts it. Fails as oru_wine_loader does.
ORU_WINE=()
oru_wine_command() {
  local loader
  loader=$(oru_wine_loader) || return $?
  if [ "$loader" = "$ORU_WINE_LOADER_64" ]; then
    ORU_WINE=(env "WINELOADER=$loader" "$loader")
  else
    ORU_WINE=("$loader")
  fi
}

oru_wine() {
  oru_wine_command || return $?
  "${ORU_WINE[@]}" "$@"
}

# Whether the Debian package $1 is installed.
oru_installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

# apt-get update, tried again after a pause while it reports errors: a mirror caught
# in the middle of its synchronisation mends itself. Should it still report them,
# says so in one line and goes on: the lists there are may hold what is wanted, and
# the install says whether they do.
ORU_APT_UPDATE_TRIES=3
ORU_APT_UPDATE_PAUSE=15
oru_apt_update() {  # sudo-or-nothing
  local try said
  for try in $(seq "$ORU_APT_UPDATE_TRIES"); do
    [ "$try" -eq 1 ] || sleep "$ORU_APT_UPDATE_PAUSE"
    if said=$($1 apt-get update -qq 2>&1 >/dev/null) && ! grep -q '^E:' <<<"$said"; then
      return 0
    fi
  done
  oru_say "apt-get update failed $ORU_APT_UPDATE_TRIES times ($(oru_apt_error "$said")); installing from the package lists there are"
}

# Installs what every script needs that is not installed yet, quietly; with
# --32bit-wine, where this machine runs 32-bit programs, the 32-bit Wine too. When
# what every script needs cannot be installed, shows what apt said, names the
# packages and fails. When only the 32-bit Wine cannot, says so, writes
# ORU_NO_32BIT_WINE_NOTE and goes on: everything else can be built and run.
oru_install_packages() {
  local missing=() missing_32bit=() p sudo="" said
  for p in $ORU_PACKAGES; do
    oru_installed "$p" || missing+=("$p")
  done
  if [ "${1:-}" = --32bit-wine ] && oru_runs_32bit_programs; then
    if oru_installed "$ORU_PACKAGES_32BIT"; then
      rm -f "$ORU_NO_32BIT_WINE_NOTE"
    else
      missing_32bit=("$ORU_PACKAGES_32BIT")
    fi
  fi
  [ ${#missing[@]} -eq 0 ] && [ ${#missing_32bit[@]} -eq 0 ] && return 0
  oru_say "installing: ${missing[*]}${missing[*]:+ }${missing_32bit[*]}"
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  # The 32-bit Wine comes from the i386 architecture, which apt must know of before
  # its package lists are read.
  if [ ${#missing_32bit[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  oru_apt_update "$sudo"
  if [ ${#missing[@]} -gt 0 ] && ! said=$(oru_apt_install "$sudo" "${missing[@]}" 2>&1); then
    printf '%s\n' "$said" >&2
    echo "could not install: ${missing[*]}" >&2
    return 1
  fi
  [ ${#missing_32bit[@]} -gt 0 ] || return 0
  if said=$(oru_apt_install "$sudo" "${missing_32bit[@]}" 2>&1); then
    rm -f "$ORU_NO_32BIT_WINE_NOTE"
  else
    printf '%s\n' "$said" >"$ORU_NO_32BIT_WINE_NOTE"
    oru_say "$ORU_NO_32BIT_WINE (${missing_32bit[*]}: $(oru_apt_error "$said")): everything else is built and run, and the tests of the 32-bit program are skipped; what apt said is in ${ORU_NO_32BIT_WINE_NOTE#"$ORU_ROOT/"}"
  fi
}

# The first error line of what apt said ($1), or its last line.
oru_apt_error() {
  grep -m1 '^E:' <<<"$1" || tail -n1 <<<"$1"
}

oru_apt_install() {  # sudo-or-nothing packages...
  local sudo=$1
  shift
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}

# Starts Xvfb on a free display when there is no display; sets DISPLAY and
# ORU_XVFB_PID. The caller ends it with oru_stop_xvfb.
# The screen is large enough for the window at 200% (about 1700 by 1150).
ORU_XVFB_PID=""
oru_start_xvfb_if_needed() {
  [ -n "${DISPLAY:-}" ] && return 0
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 2560x1600x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  ORU_XVFB_PID=$!
  local waited=0
  while [ ! -s "$fdfile" ] && [ $waited -lt 300 ]; do sleep 0.1; waited=$((waited + 1)); done
  if [ ! -s "$fdfile" ]; then
    echo "could not start a virtual display" >&2
    rm -f "$fdfile"
    return 1
  fi
  export DISPLAY=":$(head -n1 "$fdfile")"
  rm -f "$fdfile"
  oru_say "no display: started a virtual one on $DISPLAY"
}

oru_stop_xvfb() {
  if [ -n "$ORU_XVFB_PID" ]; then
    kill "$ORU_XVFB_PID" 2>/dev/null
    wait "$ORU_XVFB_PID" 2>/dev/null
    ORU_XVFB_PID=""
  fi
}

oru_wine_environment() {
  export WINEPREFIX="${WINEPREFIX:-$ORU_ROOT/build/wineprefix}"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  mkdir -p "$(dirname "$WINEPREFIX")"
}

# What a Wine prefix is made for: its architecture (WINEARCH, win64 unless set), the
# loader that made it and the Wine packages installed when it was made.
oru_wine_install() {
  printf 'arch %s\n' "${WINEARCH:-win64}"
  printf 'loader %s\n' "$(oru_wine_loader 2>/dev/null)"
  # wine32 may not be installed: dpkg-query then names the others and fails.
  dpkg-query -W -f='${binary:Package} ${Version}\n' wine wine64 wine32:i386 2>/dev/null || true
}

# Makes $WINEPREFIX ready for programs of $WINEARCH. A prefix works only with the
# Wine that made it: one made before the 32-bit Wine was installed starts no program
# afterwards ("could not load kernel32.dll"), one made for the other architecture is
# refused, and one made by a loader that cannot run here cannot be used. Each prefix
# is therefore marked with what it was made for and by; one marked otherwise, or not
# at all, is deleted and made anew. A prefix for 32-bit programs where they cannot
# run is not made: why is said, and the result is oru_32bit_layer_runs's. Wine's
# output goes to /dev/null: its background processes outlive this call.
oru_prepare_wine_prefix() {
  local mark="$WINEPREFIX/dazirar-oru-wine.txt" status=0 why
  why=$(oru_wine_loader 2>&1 >/dev/null) || status=$?
  if [ "$status" -ne 0 ]; then
    echo "$why: no Wine prefix for 32-bit programs is made ($WINEPREFIX)" >&2
    return "$status"
  fi
  if [ -d "$WINEPREFIX" ] && [ "$(cat "$mark" 2>/dev/null)" != "$(oru_wine_install)" ]; then
    oru_say "the Wine prefix $WINEPREFIX was made for another Wine or by another loader: making it anew"
    # Ends the Wine server of the prefix; it exits 1 when none runs: nothing to end.
    wineserver -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  [ -s "$mark" ] && return 0
  oru_wine wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  [ -f "$WINEPREFIX/system.reg" ] || { echo "Wine could not make the prefix $WINEPREFIX" >&2; return 1; }
  oru_wine_install > "$mark"
}

# Configures and builds one of the presets of CMakePresets.json.
oru_build_preset() {
  (cd "$ORU_ROOT" && cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$(nproc)")
}

oru_build_windows() { oru_build_preset mingw; }
oru_build_windows32() { oru_build_preset mingw32; }
oru_build_native() { oru_build_preset native; }
