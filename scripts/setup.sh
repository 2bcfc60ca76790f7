#!/usr/bin/env bash
# Installs the Debian packages the project needs. Does nothing when they are all present.
set -euo pipefail

# Qt Charts finds its OpenGL parts through libqt6opengl6-dev, which qt6-base-dev only recommends.
packages=(cmake g++ pkg-config ninja-build qt6-base-dev qt6-serialport-dev qt6-charts-dev
          libqt6opengl6-dev fonts-dejavu-core xvfb xauth)
# Extra groups, asked for by the scripts that need them.
for extra in "$@"; do
  case "$extra" in
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    coverage) packages+=(gcovr) ;;
    format) packages+=(clang-format) ;;
    xvfb) packages+=(xdotool openbox x11-apps x11-utils imagemagick) ;;
    package) packages+=(dpkg-dev file desktop-file-utils appstream librsvg2-bin) ;;
    *) echo "setup.sh: unknown package group '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup.sh: installing ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then
  sudo_cmd=()
elif command -v sudo >/dev/null 2>&1; then
  sudo_cmd=(sudo)
else
  echo "setup.sh: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
