#!/usr/bin/env bash
# An impatient operator at a real X server: the program under Xvfb with a window manager, the
# simulator as the sensor, clicks and keys from xdotool while the program waits. Each scenario
# checks what the sensor received, what the status line reads, whether a box came up and whether
# the program ended, and leaves a screenshot in build/default/bin/screenshots/. The last one opens
# the trend window on three screens and checks where it goes. Run after a build:
#
#   ./scripts/operator-xvfb.sh [SCENARIO...]     all scenarios when none is named; see the end
#   QUORVAT_PROGRAM_DIR=DIR ./scripts/operator-xvfb.sh ...
#       runs the program and its resource file from DIR (another build of it, an older one say)
#       against this build's simulator; its screenshots go to screenshots/other/
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh xvfb
bin=$PWD/build/default/bin
from=${QUORVAT_PROGRAM_DIR:-$bin}
shots=$bin/screenshots
[ "$from" -ef "$bin" ] || shots=$shots/other
work=$(mktemp -d)
mkdir -p "$shots"
# Everything started here is a job of this shell: the running ones end with it.
trap 'kill $(jobs -pr) 2>/dev/null; rm -rf "$work"' EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port) refport=$(free_port)

# Polls until the command succeeds, at most $1 seconds: generous, for a loaded machine.
waitfor() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.1; done
}
gone() { ! kill -0 "$1" 2>/dev/null; }
# Ends processes started here, politely and then for sure.
stop() {
  local q
  kill "$@" 2>/dev/null || true
  for q in "$@"; do waitfor 10 gone "$q" || kill -KILL "$q" 2>/dev/null || true; done
  wait "$@" 2>/dev/null || true
}
# A failure is kept in a file: it may happen in a command substitution.
fail() { echo "  FAILED: $1"; touch "$work/failed"; }
check() { if eval "$2"; then echo "  ok: $1"; else fail "$1"; fi; }

# An X server of the given size on a free display, with a window manager; DISPLAY names it,
# $xpids are their processes.
xserver() {
  local d=$work/display.$1
  Xvfb -displayfd 3 -screen 0 "${1}x24" 3>"$d" >/dev/null 2>&1 &
  xpids=($!)
  waitfor 20 test -s "$d"
  export DISPLAY=:$(<"$d")
  openbox >/dev/null 2>&1 &
  xpids+=($!)
  waitfor 20 wm_up
}
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
# The window titled $1, once it shows (at most 30 s); nothing when it does not.
window() {
  local w; w=$(timeout 30 xdotool search --sync --onlyvisible --name "^$1\$" | head -1) || true
  [ -n "$w" ] || fail "no window titled '$1' showed" >&2
  echo "$w"
}
click() { local w; w=$(window "$1"); [ -z "$w" ] || xdotool windowactivate --sync "$w" mousemove --window "$w" "$2" "$3" click 1; }
# Waits for the box titled $1 and answers it with Return.
answer() { local w; w=$(window "$1"); [ -z "$w" ] || xdotool windowactivate --sync "$w" key Return; }
shot() { xwd -root -silent | convert xwd:- "$shots/$1"; }

# The simulator with these options, up and listening; $s is its process.
sim() {
  "$bin/quorvat-sensorsim" "$@" >"$work/sim.out" 2>&1 &
  s=$!
  waitfor 20 grep -q '^\(tcp\|pty link\): ' "$work/sim.out"
}
frames() { local n; n=$(grep -c "^00 55 00 0$2" "$1" 2>/dev/null) || true; echo "${n:-0}"; }
atleast() { [ "$(frames "$1" "$2")" -ge "$3" ]; }
# waits until the sensor has received `n` frames of code `c`, then a moment more
seen() { waitfor 20 atleast "$@" || fail "the sensor got no frame of code $2"; sleep 0.5; }

# A fresh copy of the program whose connection panel starts with $1 (tcp or serial) and the TCP
# port $2; prints its folder.
copy() {
  local dir; dir=$(mktemp -d "$work/program.XXXX")
  cp "$from/quorvat" "$from"/*.uir "$from"/*.png "$dir/"
  python3 - "$dir/QuorvatV60.uir" "$1" "${2:-$port}" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
for c in next(p for p in d["panels"] if p["resource"] == 1)["controls"]:
    if c["id"] == 2:
        c["value"] = 1 if sys.argv[2] == "tcp" else 0
    if c["id"] == 8:
        c["value"] = sys.argv[3]
json.dump(d, open(sys.argv[1], "w"))
PY
  echo "$dir"
}
# Starts the program in folder $1 with the environment given after it; $p is its process.
start() { local dir=$1; shift; env "$@" "$dir/quorvat" 2>/dev/null & p=$!; }
ended() { waitfor 15 gone "$1"; }

# The main panel's status line as drawn now, into $1; the panel raised first, as the picture
# is taken from the screen.
status() {
  local w; w=$(xdotool search --onlyvisible --name '^QUORVAT V6.0$' | head -1)
  [ -n "$w" ] && xdotool windowraise "$w" && import -window "$w" -crop 552x26+16+472 +repage "$1"
}
# Whether the status line holds any text: dark pixels inside its frame.
has_text() { status "$work/now.png" && [ "$(convert "$work/now.png" -shave 4x4 -format '%[fx:minima<0.5]' info:)" = 1 ]; }
# Learns how the status line looks when it reads $2 (named $1): as the program draws it after
# its start-up check, from a simulator whose version text that is. Before the scenario's program.
learn() {
  [ -f "$work/looks.$1.png" ] && return
  local text=(); [ -z "${2:-}" ] || text=(--version-text "$2")
  sim --port "$refport" "${text[@]}" --log "$work/looks.$1.log"
  start "$(copy tcp "$refport")"
  waitfor 30 atleast "$work/looks.$1.log" 7 1 && waitfor 15 has_text && cp "$work/now.png" "$work/looks.$1.png" ||
    fail "the status line never read '${2:-the version text}'"
  stop $p $s
}
# Whether the status line reads what was learnt as $1: the same pixels.
reads() { status "$work/now.png" && compare -metric AE "$work/now.png" "$work/looks.$1.png" null: 2>/dev/null; }
# The titles of the program's windows besides its own panels: boxes.
boxes() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$p" 2>/dev/null); do xdotool getwindowname "$w"; done | grep -v '^QUORVAT V6.0' || true
}
nobox() { local b; b=$(boxes); [ -z "$b" ] || { echo "  (boxes: ${b//$'\n'/, })"; return 1; }; }

# the first SETCF frame's three factors each within 4 of those given
factors_near() {
  local f; f=$(grep -m1 '^00 55 00 08' "$1" | cut -d' ' -f5-10 | tr -d ' ')
  [ -n "$f" ] || { echo "  (no factors were sent)"; return 1; }
  local got=($((16#${f:0:4})) $((16#${f:4:4})) $((16#${f:8:4}))) want=("$2" "$3" "$4")
  echo "  (factors sent: ${got[*]})"
  for i in 0 1 2; do [ $((got[i] - want[i])) -le 4 ] && [ $((want[i] - got[i])) -le 4 ] || return 1; done
}

# GO against a simulator started with the options given, which is then ended with signal $2 and
# started again as it was after a while: GO goes on by itself, with no box and no click.
# Screenshots link-$1-lost.png and link-$1-back.png.
comes_back() {
  local name=$1 signal=$2 env=(); shift 2
  [ "$name" = tcp ] || env=(QUORVAT_COM1="$work/sensor")
  learn version && learn lost "LINK LOST - RECONNECTING"
  sim "$@" --log "$work/$name.1.log"
  start "$(copy "$name")" "${env[@]}"
  check "the start-up check shows the version text" "waitfor 20 reads version"
  click "QUORVAT V6.0" 516 384
  check "GO reads" "waitfor 20 atleast $work/$name.1.log 5 1"
  kill -"$signal" $s; wait $s 2>/dev/null || true
  check "the status line reads \"LINK LOST - RECONNECTING\"" "waitfor 15 reads lost"
  shot "link-$name-lost.png"
  sleep 2.5 # away for two attempts to reopen it
  sim "$@" --log "$work/$name.2.log"
  check "GO reads again, from the simulator started again" "waitfor 30 atleast $work/$name.2.log 5 1"
  check "the status line shows the version text again" "waitfor 15 reads version"
  shot "link-$name-back.png"
  check "no box came up" nobox
  check "the program runs" "! gone $p"
  stop $p $s
}

scenario_try_during_series() {
  echo "CALCULATE running; CONNECT, then TRY TO CONNECT: the try is refused, the factors are right"
  sim --port "$port" --fault late:cmd=GETDATA,ms=15 --log "$work/a.log"
  start "$(copy tcp)"
  seen "$work/a.log" 7 1; click "QUORVAT V6.0" 166 420; answer "CONFIRM CALCULATION!"
  sleep 0.3; click "QUORVAT V6.0" 656 420
  sleep 0.4; click "QUORVAT V6.0 - CONNECTION" 76 242; sleep 0.1; shot operator-try-during-series.png
  answer "CALIBRATION PASSED!"; sleep 0.7; click "QUORVAT V6.0" 656 384; sleep 0.3
  check "one version request, at start-up" "[ $(frames "$work/a.log" 7) -eq 1 ]"
  # The readings are about 1000, 1025 and 975 at the factory POWER: factors near 1024, 999, 1050.
  check "the factors of the readings sent" "factors_near $work/a.log 1024 999 1050"
  stop $p $s
}

scenario_close_during_series() {
  echo "The close box during the calibration series: the program ends after the reading in hand"
  sim --port "$port" --fault late:cmd=GETDATA,ms=15 --log "$work/b.log"
  start "$(copy tcp)"
  seen "$work/b.log" 7 1; click "QUORVAT V6.0" 166 420; answer "CONFIRM CALCULATION!"; sleep 0.5
  xdotool windowactivate --sync "$(window "QUORVAT V6.0")" key alt+F4
  check "the program ended" "ended $p"
  check "no factors sent after the close" "[ $(frames "$work/b.log" 8) -eq 0 ]"
  stop $p $s
}

scenario_clicks_during_serial_check() {
  echo "GO and GET CF clicked while the serial link check holds the program"
  learn timeout TIMEOUT
  sim --no-tcp --pty "$work/sensor" --fault noreply:cmd=GETVERSION,nth=1 --log "$work/c.log"
  start "$(copy serial)" QUORVAT_COM1="$work/sensor"
  window "QUORVAT V6.0" >/dev/null; sleep 0.3; shot operator-serial-check.png
  click "QUORVAT V6.0" 516 384; sleep 0.2; click "QUORVAT V6.0" 236 384
  check "the check timed out" "waitfor 15 reads timeout"
  sleep 1 # the clicks, queued meanwhile, are handled by now
  check "neither command ran: the buttons were dimmed" "[ $(frames "$work/c.log" 5) -eq 0 ] && [ $(frames "$work/c.log" 9) -eq 0 ]"
  stop $p $s
}

scenario_tcp_comes_back() {
  echo "TCP: the simulator stopped during GO and started again on its port"
  comes_back tcp TERM --port "$port"
}

scenario_serial_comes_back() {
  # SIGKILL, as an adapter pulled: the sensor says nothing, its device goes, the name dangles.
  echo "Serial: the pseudo-terminal's simulator killed during GO and started again under its name"
  comes_back serial KILL --no-tcp --pty "$work/sensor"
}

scenario_stray_bytes_before_try() {
  # Over the serial line, which stays the same line when it is opened again; a TCP link check
  # always has a new connection to itself.
  echo "Serial: bytes that came unasked after a failed start-up check do not fail TRY TO CONNECT"
  learn version && learn timeout TIMEOUT
  sim --no-tcp --pty "$work/sensor" --log "$work/e.log" --fault noreply:cmd=GETVERSION,nth=1 \
    --fault unasked:cmd=GETVERSION,nth=1,bytes=20,ms=2500
  start "$(copy serial)" QUORVAT_COM1="$work/sensor"
  check "the start-up check got no reply" "waitfor 20 reads timeout"
  sleep 1 # the 20 stray bytes came 2.5 s after the version request
  click "QUORVAT V6.0" 656 420; click "QUORVAT V6.0 - CONNECTION" 76 242
  check "TRY TO CONNECT asked for the version" "waitfor 15 atleast $work/e.log 7 2"
  check "the status line shows the version text" "waitfor 15 reads version"
  shot link-stray-bytes-try.png
  check "no box came up" nobox
  stop $p $s
}

scenario_trend_placement() {
  echo "TREND beside the main panel, clear of its commands; closed, moved and reopened at the next start"
  local screen size scale dir main trend mx my mw mh m t put first=$DISPLAY
  for screen in 1600x1200:1 1920x1080:1 3200x2400:2; do
    size=${screen%:*} scale=${screen#*:}
    xserver "$size"
    dir=$(copy tcp)
    sim --port "$port" --log "$work/trend.$size.log"
    start "$dir" QT_SCALE_FACTOR="$scale"
    seen "$work/trend.$size.log" 7 1
    click "QUORVAT V6.0" $((656 * scale)) $((216 * scale)); window "QUORVAT V6.0 - TREND" >/dev/null; sleep 0.5
    main=$(window "QUORVAT V6.0"); trend=$(window "QUORVAT V6.0 - TREND")
    read -r mx my mw mh < <(inside "$main"); read -r -a m < <(outside "$main"); read -r -a t < <(outside "$trend")
    shot "trend-beside-$size.png"
    echo "  main panel at ${m[*]}, trend window at ${t[*]} (frames, device pixels)"
    check "$size: clear of the commands and the status line" "apart ${t[*]} $((mx + 16 * scale)) $((my + 344 * scale)) $((728 * scale)) $((154 * scale))"
    check "$size: clear of the main panel" "apart ${t[*]} ${m[*]}"
    check "$size: on the screen" "[ ${t[0]} -ge 0 ] && [ ${t[1]} -ge 0 ] && [ $((t[0] + t[2])) -le ${size%x*} ] && [ $((t[1] + t[3])) -le ${size#*x} ]"
    xdotool windowmove "$trend" $((40 * scale)) $((60 * scale)); sleep 0.3; put=$(inside "$trend")
    xdotool windowactivate --sync "$trend" key alt+F4; sleep 0.3
    xdotool windowactivate --sync "$main" key alt+F4; ended $p || stop $p
    start "$dir" QT_SCALE_FACTOR="$scale"
    seen "$work/trend.$size.log" 7 2
    click "QUORVAT V6.0" $((656 * scale)) $((216 * scale)); window "QUORVAT V6.0 - TREND" >/dev/null; sleep 0.5
    check "$size: reopened where it was put ($put)" "[ \"$(inside "$(window "QUORVAT V6.0 - TREND")")\" = \"$put\" ]"
    stop $p $s "${xpids[@]}"
  done
  export DISPLAY=$first
}
# x y width height of a window's inside, and of its frame (the window manager's extents around it)
inside() { xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width/{w=$NF} /Height/{h=$NF} END{print x, y, w, h}'; }
outside() {
  local x y w h l r t b
  read -r x y w h < <(inside "$1"); read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  echo $((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))
}
apart() { [ $(($1 + $3)) -le "$5" ] || [ $(($5 + $7)) -le "$1" ] || [ $(($2 + $4)) -le "$6" ] || [ $(($6 + $8)) -le "$2" ]; }

scenarios=(try_during_series close_during_series clicks_during_serial_check tcp_comes_back
           serial_comes_back stray_bytes_before_try trend_placement)
[ $# -eq 0 ] || scenarios=("$@")
xserver 1280x900
for name in "${scenarios[@]}"; do "scenario_$name"; done
[ ! -e "$work/failed" ]
