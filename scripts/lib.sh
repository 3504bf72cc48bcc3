# Shared by scripts/run and scripts/test: installing what is missing, the virtual
# display, and the builds. Sourced, not run.

ORU_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ORU_PACKAGES="cmake make g++ python3 libgtest-dev libbenchmark-dev clang
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 wine32:i386 xvfb xdotool imagemagick x11-utils fonts-wine fonts-liberation
  netcat-openbsd"

oru_say() { printf '== %s\n' "$*"; }

# Installs the Debian packages that are not there yet; quiet, and does nothing
# when everything is installed.
oru_install_packages() {
  local missing=""
  for p in $ORU_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  oru_say "installing:$missing"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  # The 32-bit Wine comes from the i386 architecture, which apt must know of before
  # its package list is read.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
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

# What a Wine prefix is made for: its architecture (WINEARCH, win64 unless set) and
# the Wine packages installed when it was made.
oru_wine_install() {
  printf 'arch %s\n' "${WINEARCH:-win64}"
  dpkg-query -W -f='${binary:Package} ${Version}\n' wine wine64 wine32:i386 2>/dev/null
}

# Makes $WINEPREFIX ready for programs of $WINEARCH. A prefix works only with the
# Wine that made it: one made before the 32-bit Wine was installed starts no program
# afterwards ("could not load kernel32.dll"), and one made for the other
# architecture is refused. Each prefix is therefore marked with what it was made
# for; one marked otherwise, or not at all, is deleted and made anew. Wine's output
# goes to /dev/null: its background processes outlive this call.
oru_prepare_wine_prefix() {
  local mark="$WINEPREFIX/dazirar-oru-wine.txt"
  if [ -d "$WINEPREFIX" ] && [ "$(cat "$mark" 2>/dev/null)" != "$(oru_wine_install)" ]; then
    oru_say "the Wine prefix $WINEPREFIX was made for another Wine: making it anew"
    wineserver -k </dev/null >/dev/null 2>&1
    rm -rf "$WINEPREFIX"
  fi
  [ -s "$mark" ] && return 0
  wineboot -i </dev/null >/dev/null 2>&1
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
