# Shared by the README's commands: packages, build, X server.
# shellcheck shell=bash

root_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${LUMENRIDER_BUILD_DIR:-$root_dir/build}

# What a fresh Debian 12 machine lacks to build, run and test the installer.
packages=(
  cmake ninja-build g++ pkg-config make
  qtbase5-dev qtdeclarative5-dev
  qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls
  qml-module-qtquick-dialogs qml-module-qtquick-layouts qml-module-qtquick-privatewidgets
  qml-module-qt-labs-folderlistmodel qml-module-qt-labs-settings qml-module-qtqml-models2
  xvfb xauth xdotool fonts-wqy-microhei
  libcpp-httplib-dev libssl-dev openssl
  g++-mingw-w64-i686-posix
  clang libclang-rt-14-dev   # ThreadSanitizer and libFuzzer builds
)

ensure_packages() {
  local missing=() p
  for p in "${packages[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

build_project() {
  local dir=${1:-$build_dir}; shift || true
  cmake -S "$root_dir" -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j2
}

# Starts an X server of our own unless one is given; sets DISPLAY.
start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -ac >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.1
  done
  echo "Xvfb did not start" >&2
  return 1
}
