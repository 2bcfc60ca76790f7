#!/usr/bin/env bash
# Installs the Debian packages the project needs. Does nothing when they are all present.
set -euo pipefail

# Qt Charts finds its OpenGL parts through libqt6opengl6-dev, which qt6-base-dev only recommends.
# locales: the tests run the program under de_DE.UTF-8 too, where numbers take a decimal comma.
packages=(cmake g++ pkg-config ninja-build qt6-base-dev qt6-serialport-dev qt6-charts-dev
          libqt6opengl6-dev fonts-dejavu-core xvfb xauth locales)
# Extra groups, asked for by the scripts that need them.
for extra in "$@"; do
  case "$extra" in
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    coverage) packages+=(gcovr) ;;
    format) packages+=(clang-format) ;;
    xvfb) packages+=(xdotool openbox x11-apps x11-utils imagemagick) ;;
    package) packages+=(dpkg-dev file desktop-file-utils appstream librsvg2-bin) ;;
    windows) packages+=(g++-mingw-w64-x86-64) ;;
    *) echo "setup.sh: unknown package group '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# The German locale the tests use (locale -a names it de_DE.utf8).
german=de_DE.UTF-8
has_german() { locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; }
if [ ${#missing[@]} -eq 0 ] && has_german; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo_cmd=()
elif command -v sudo >/dev/null 2>&1; then
  sudo_cmd=(sudo)
else
  echo "setup.sh: need root or sudo to install: ${missing[*]} ${german}" >&2
  exit 1
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup.sh: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! has_german; then
  echo "setup.sh: generating the locale ${german}" >&2
  # Enabled in locale.gen as well, so that a later locale-gen keeps it.
  "${sudo_cmd[@]}" sed -i "s/^# *\(${german} UTF-8\)/\1/" /etc/locale.gen
  grep -q "^${german} UTF-8" /etc/locale.gen ||
    echo "${german} UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
