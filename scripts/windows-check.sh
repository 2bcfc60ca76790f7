#!/usr/bin/env bash
# Compiles the program for Windows, without linking, with Debian's mingw-w64 cross compiler and
# the project's warning flags, so that the Windows branches no build here runs stay compilable.
#   1. The program's own folders, every source and header, with no Qt on the include path: they
#      must build for Windows on the platform layer's headers alone.
#   2. The platform layer's Qt parts and the trend chart, against this machine's Qt headers (made
#      for Linux, so this checks our code against Qt's API with Windows' compiler, headers and
#      macros, not against a Qt built for Windows).
# The simulator is POSIX (pseudo-terminals, poll) and stays out.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh windows

# The posix thread model: std::thread and std::mutex need it with this g++, and Qt's MinGW
# builds use it too.
cxx=x86_64-w64-mingw32-g++-posix
# The warning flags of the Linux build, read from the one place that sets them.
read -r -a warnings < <(sed -n 's/^add_compile_options(\(-W.*-Werror\))$/\1/p' CMakeLists.txt)
if [ ${#warnings[@]} -eq 0 ]; then
  echo "windows-check.sh: no warning flags found in CMakeLists.txt" >&2
  exit 1
fi
# As a Release build through Qt's CMake package would compile on Windows.
flags=(-std=c++20 -O2 -DNDEBUG -DQT_NO_DEBUG -DUNICODE -D_UNICODE -DWIN32 -DWIN64 -D_WIN64
       -DMINGW_HAS_SECURE_API=1 "${warnings[@]}" -I.
       -DQUORVAT_SOFTWARE='"windows-check"') # the build's project() gives it
qt=/usr/include/x86_64-linux-gnu/qt6
qt_flags=(-isystem "$qt")
for module in Core Gui Widgets Network SerialPort Charts; do
  qt_flags+=(-isystem "$qt/Qt$module" "-DQT_${module^^}_LIB")
done

qt_parts=(platform/*.cpp platform/canvas.h platform/panel_p.h platform/runtime_p.h platform/widgets_p.h
          trend/trendview.cpp)
mapfile -t plain < <(git ls-files app shell logo protocol calibration record link combobox trend \
                       platform | grep -E '\.(cpp|h)$' | grep -vxF -f <(printf '%s\n' "${qt_parts[@]}"))

# One file: a source is compiled to nothing, a header on its own (it must stand alone).
check() {
  local file=$1
  shift
  local out
  if [[ $file == *.h ]]; then
    out=$("$cxx" "$@" -fsyntax-only -x c++ -include "$file" /dev/null 2>&1) || {
      printf 'FAILED %s\n%s\n' "$file" "$out"
      return 1
    }
  else
    out=$("$cxx" "$@" -c -o /dev/null "$file" 2>&1) || {
      printf 'FAILED %s\n%s\n' "$file" "$out"
      return 1
    }
  fi
}
export -f check
export cxx
jobs=$(nproc)
status=0
printf '%s\n' "${plain[@]}" | xargs -P "$jobs" -I{} bash -c 'check "$@"' _ {} "${flags[@]}" ||
  status=1
printf '%s\n' "${qt_parts[@]}" |
  xargs -P "$jobs" -I{} bash -c 'check "$@"' _ {} "${flags[@]}" "${qt_flags[@]}" || status=1
if [ $status -ne 0 ]; then
  echo "windows-check.sh: the program does not compile for Windows (above)" >&2
  exit 1
fi
echo "windows-check.sh: ${#plain[@]} files compile for Windows without Qt, ${#qt_parts[@]} against" \
  "this machine's Qt headers"
