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
  apt_update
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y --no-install-recommends "${missing[@]}"
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

# The demo's summary of what the vendor-API stand-in received (its record
# file, one JSON object a line).
print_reports() {
  local record path valid code sig
  echo "reports the vendor-API stand-in received:"
  while IFS= read -r record; do
    path=$(sed -n 's/.*"path":"\([^"]*\)".*/\1/p' <<<"$record")
    valid=$(sed -n 's/.*"sign_valid":\([a-z]*\).*/\1/p' <<<"$record")
    code=$(sed -n 's/.*"name":"code","value":"\([^"]*\)".*/\1/p' <<<"$record")
    case $valid in true) sig="signature valid" ;; false) sig="SIGNATURE INVALID" ;; *) sig="" ;; esac
    echo "   $path ${code:+code $code }$sig"
  done <"$1"
}

# ---- the Windows build and Wine --------------------------------------------

win_dir=${LUMENRIDER_WIN_BUILD_DIR:-$root_dir/build-win}
shared_dir=$root_dir/../shared
kit_tarball=$shared_dir/qt5-win32/qt5-win32.tar.xz
kit_sha256=ebbfd1338d4dd547c0ba2eb795aa4c012622cfd9fa2fc4767a01d648ccd8e125

windows_packages=(
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 xz-utils
  wine wine32:i386 wine64 fonts-wine locales openssl xvfb xauth xdotool xclip fonts-wqy-microhei
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# apt-get update, putting the mirror's i386 index in place when the mirror
# is caught mid-sync ("File has unexpected size").
apt_update() {
  local log
  log=$(mktemp)
  if as_root apt-get update 2>&1 | tee "$log" | tail -n 3 && ! grep -q 'unexpected size' "$log"; then
    rm -f "$log"; return 0
  fi
  rm -f "$log"
  echo "== apt-get update met a mirror in sync; putting the i386 index in place"
  as_root bash "$shared_dir/qt5-win32/apt-i386-index.sh" || true
}

ensure_windows_packages() {
  local missing=() p
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    missing+=(i386)
  fi
  for p in "${packages[@]}" "${windows_packages[@]}"; do
    [ "$p" = i386 ] && continue
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    apt_update
    local try
    for try in 1 2 3; do
      DEBIAN_FRONTEND=noninteractive as_root apt-get install -y --no-install-recommends \
        "${packages[@]}" "${windows_packages[@]}" && break
      [ "$try" -eq 3 ] && return 1
      apt_update
    done
  fi
  ensure_chinese_locale
  ensure_i386_programs
}

# Wine does not start without the locale a Chinese Windows is played in.
ensure_chinese_locale() {
  locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$' && return 0
  echo "== generating the zh_CN.UTF-8 locale"
  as_root sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
}

# 32-bit Windows programs run in Wine's 32-bit loader, a 32-bit Linux
# program. Some kernels (virtual machines built without 32-bit support)
# refuse those; there the loader runs under qemu's user-mode emulator
# (Debian's backports: the bookworm one is far too slow at Wine's memory
# layout), registered for 32-bit programs with binfmt_misc.
ensure_i386_programs() {
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  echo "== this kernel does not run 32-bit programs: running them under qemu"
  local qemu=/usr/bin/qemu-i386
  if ! "$qemu" --version 2>/dev/null | grep -q 'version \(8\.[1-9]\|9\|1[0-9]\)'; then
    grep -rqs bookworm-backports /etc/apt/sources.list /etc/apt/sources.list.d/ ||
      echo 'deb http://deb.debian.org/debian bookworm-backports main' |
        as_root tee /etc/apt/sources.list.d/lumenrider-backports.list >/dev/null
    apt_update
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y --no-install-recommends \
      -t bookworm-backports qemu-user-static
  fi
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && echo -1 | as_root tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':FOC' |
    as_root tee /proc/sys/fs/binfmt_misc/register >/dev/null
  /usr/lib/wine/wine --version >/dev/null 2>&1 || { echo "32-bit programs still do not run" >&2; return 1; }
}

# The Qt kit, unpacked once into the Windows build tree.
unpack_qt_kit() {
  local kit=$win_dir/qt5-win32 stamp=$win_dir/qt5-win32/.unpacked
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$kit_sha256" ] && return 0
  echo "== unpacking the Qt kit for 32-bit Windows"
  echo "$kit_sha256  $kit_tarball" | sha256sum -c --quiet - || { echo "the kit's checksum is wrong" >&2; return 1; }
  rm -rf "$kit"
  mkdir -p "$win_dir"
  tar -xJf "$kit_tarball" -C "$win_dir"
  echo "$kit_sha256" >"$stamp"
}

build_windows() {
  unpack_qt_kit || return 1
  cmake -S "$root_dir" -B "$win_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root_dir/cmake/mingw-i686.cmake" \
    -DLUMENRIDER_HOST_BUILD_DIR="$build_dir" "$@" &&
    cmake --build "$win_dir" -j2
}

# A Wine prefix as a Chinese Windows has it, made once per run; every test
# program runs in a copy of its own (tests/windows/wine-run).
make_wine_template() {
  local template=$win_dir/wine/template
  rm -rf "$win_dir/wine"
  mkdir -p "$win_dir/wine"
  echo "== making a Wine prefix (Chinese locale)"
  WINEPREFIX=$template WINEDEBUG=-all LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 WINEDLLOVERRIDES=winemenubuilder.exe=d \
    wineboot -i >/dev/null 2>&1 || return 1
  # Wine links the user's Desktop, Documents and the like to the Linux home:
  # the installer's desktop shortcut would land in ours. A Windows user's
  # folders are folders of their own.
  local link
  for link in "$template"/drive_c/users/*/*; do
    [ -L "$link" ] || continue
    rm "$link"
    mkdir "$link"
  done
  # A Chinese Windows has its own fonts (SimSun, Microsoft YaHei, Tahoma);
  # Wine brings Tahoma (fonts-wine), and Debian's CJK font stands in for
  # the Chinese ones.
  local font
  for font in SimSun NSimSun "Microsoft YaHei" "Microsoft YaHei UI"; do
    WINEPREFIX=$template WINEDEBUG=-all LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 \
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1 ||
      return 1
  done
  WINEPREFIX=$template wineserver -w
  export LUMENRIDER_WINE_TEMPLATE=$template
}
