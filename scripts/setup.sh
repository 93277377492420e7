#!/usr/bin/env bash
# Installs what Lumenar needs on Debian 12 (build, tests, tools), then configures and builds.
# Idempotent: packages already present are skipped, an existing build tree is reused.
#   scripts/setup.sh [--no-build] [--build-dir DIR] [--type Debug|Release|RelWithDebInfo]
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
build_dir=build
build_type=RelWithDebInfo
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0 ;;
    --build-dir) build_dir=$2; shift ;;
    --type) build_type=$2; shift ;;
    *) echo "setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libqt6svg6 libqt6sql6-sqlite
  libpulse-dev libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  libflac-dev libgtest-dev libgmock-dev
  # screens: Qt Quick with its controls, dialogs and SVG icons
  qt6-declarative-dev qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtquick-dialogs
  qml6-module-qtqml-workerscript qt6-svg-dev
  # the picture chooser of the now-playing screen (the dialogs' own file list needs it)
  qml6-module-qt-labs-folderlistmodel
  # tests: reference decoders, peers and services
  ffmpeg flac pulseaudio pulseaudio-utils dbus dbus-x11 curl lftp playerctl python3 iproute2
  # the real window under a screen reader: X server, accessibility bus and client
  xvfb at-spi2-core python3-pyatspi
  # fuzzing
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$build" -eq 1 ]; then
  jobs=$(nproc 2>/dev/null || echo 2)
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DLUMENAR_WERROR=ON
  cmake --build "$build_dir" -j "$jobs"
fi
