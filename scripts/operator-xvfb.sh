#!/usr/bin/env bash
# An impatient operator at a real X server: the program under Xvfb with a window manager, the
# simulator as the sensor, clicks and keys from xdotool while the program waits. Each scenario
# checks what the sensor received, what the status line reads, whether a box came up and whether
# the program ended, and leaves a screenshot in build/default/bin/screenshots/. trend_placement
# opens the trend window on three screens and checks where it goes; station_timing calibrates one
# sensor by hand and with CALIBRATE SENSOR and prints the actions and seconds each way. Run after
# a build:
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
  [ -n "$w" ] && xdotool windowraise "$w" && import -window "$w" -crop 552x26+16+684 +repage "$1"
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
  echo "TREND beside the main panel, or over its banner only; closed, moved and reopened at the next start"
  local screen size scale where dir main trend mx my mw mh m t put first=$DISPLAY
  # beside: the screen has room for the trend window beside the main panel. over: no side of it
  # holds even the smallest trend window beside the main panel (760x724 with the SENSOR group),
  # so it covers the panel's banner, clear of everything below it.
  for screen in 1600x1200:1:over 1920x1080:1:beside 3200x2400:2:over; do
    IFS=: read -r size scale where <<<"$screen"
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
    check "$size: clear of everything below the banner" "apart ${t[*]} $((mx + 16 * scale)) $((my + 74 * scale)) $((728 * scale)) $((636 * scale))"
    [ "$where" = over ] || check "$size: clear of the main panel" "apart ${t[*]} ${m[*]}"
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

scenario_station_timing() {
  # A sensor that wants POWER 192 rather than the factory 250: 5200 x 192 / 1000 = 998, the
  # channels' mean nearest SET VALUE 1000, their spread 76 within MAX DELTA 100. Without noise,
  # so that both ways end with the very same factors: 1000 x 1024 / 998, / 960, / 1036.
  echo "One sensor calibrated by hand and with CALIBRATE SENSOR, at sensor speed: actions and seconds"
  local how label dir log factors=() rows=() power=192
  learn version
  echo "  (load average at the start: $(cut -d' ' -f1-3 /proc/loadavg))"
  for how in by_hand sequence; do
    # The sensor as it comes, each time: factory factors, over a pseudo-terminal at 19200 baud.
    log=$work/timing.$how.log label="CALIBRATE SENSOR"
    [ "$how" = sequence ] || label="by hand"
    sim --no-tcp --pty "$work/sensor" --pace --base 5200,5000,5400 --noise 0 --log "$log"
    dir=$(copy serial)
    # Who and with what are kept between runs: typed once a shift, not per sensor.
    printf '[station]\noperator=M. Keller\nreference=WT-0042\n' >"$dir/QuorvatV60.ini"
    start "$dir" QUORVAT_COM1="$work/sensor"
    check "$label: the start-up check shows the version text" "waitfor 20 reads version"
    xdotool mousemove --window "$(window "QUORVAT V6.0")" 380 40 # off the buttons, on the banner
    actions=0 t0='' took='' last=''
    "timed_$how"
    rows+=("$(printf '%-17s %2d actions, the last at %5s s; done at %5s s' \
      "$label" "$actions" "$last" "$took")")
    check "$label: the buttons are live again" "soon 20 live 312 406 268"
    shot "station-timing-${how//_/-}.png"
    factors+=("$(last_factors "$log")")
    check "$label: the sensor got the factors 1026 1066 988" "[ \"${factors[-1]}\" = '1026 1066 988' ]"
    check "$label: it read back what was stored" \
      "grep -q ',finish,.*,1026,1066,988,1026,1066,988,stored' $dir/calibrations.csv"
    [ "$how" = by_hand ] || check "AUTO POWER found the POWER typed by hand" \
      "grep -q ',power,.*,$power,1000,100,10,.*,found' $dir/calibrations.csv"
    stop $p $s
  done
  check "both ways left the same factors in the sensor" "[ \"${factors[0]}\" = \"${factors[1]}\" ]"
  printf '  %s\n' "${rows[@]}"
  echo "  (load average at the end: $(cut -d' ' -f1-3 /proc/loadavg))"
}
# A technician who knows the POWER: types it, SEND POWER, STOP after a look at the readings,
# CALCULATE (it sends the factors), STOP, FINISH. Each action as soon as the program takes it.
timed_by_hand() {
  local n
  act "double-click POWER (selects its value)"; click2 "QUORVAT V6.0" 70 307
  act "type $power, Enter"; xdotool type "$power"; xdotool key Return
  act "click SEND POWER"; click "QUORVAT V6.0" 96 384
  n=$(frames "$log" 5); reply "SEND POWER"
  check "SEND POWER's GO loop shows a reading" "soon 20 atleast $log 5 $((n + 2))"
  act "click STOP"; click "QUORVAT V6.0" 656 384
  check "CALCULATE is live again" "soon 20 live 32 406 268"
  act "click CALCULATE CALIBRATION FACTORS"; click "QUORVAT V6.0" 166 420
  reply "CONFIRM CALCULATION!"
  # Counted once the 100 readings are in, as the box shows after them.
  soon 30 shown "CALIBRATION PASSED!"; n=$(frames "$log" 5); reply "CALIBRATION PASSED!"
  check "CALCULATE's GO loop shows a reading" "soon 20 atleast $log 5 $((n + 2))"
  act "click STOP"; click "QUORVAT V6.0" 656 384
  check "FINISH is live again" "soon 20 live 312 406 268"
  act "click FINISH CALIBRATION"; click "QUORVAT V6.0" 446 420
  reply "INFO!"
  check "by hand: the finish is recorded as stored" \
    "soon 30 grep -sq ',finish,.*,stored' $dir/calibrations.csv && took=\$(since)"
}
# The same sensor at the station: its serial scanned (typed, then Enter, as a scanner does), the
# one confirmation, and the PASS on the panel.
timed_sequence() {
  act "scan SN-24-0117 (typed, Enter)"
  xdotool windowactivate --sync "$(window "QUORVAT V6.0")" type SN-24-0117
  xdotool key Return
  reply "CALIBRATE SENSOR"
  # Partway through the 100 readings (AUTO POWER took 20): the program works, the script waits.
  soon 30 atleast "$log" 5 60 && shot station-timing-running.png
  check "CALIBRATE SENSOR: the record says pass" \
    "soon 60 grep -sq ',sequence,.*,pass' $dir/calibrations.csv"
  check "CALIBRATE SENSOR: PASS on the panel" "soon 20 passed && took=\$(since)"
}
# The time now in milliseconds (EPOCHREALTIME's separator follows the locale).
now_ms() { local t=${EPOCHREALTIME//[.,]/}; echo $((t / 1000)); }
# Seconds since the run's first action, as 1.23.
since() { local ms=$(($(now_ms) - t0)); printf '%d.%02d' $((ms / 1000)) $((ms % 1000 / 10)); }
# One operator action, counted and printed with its moment; the first starts the clock.
act() {
  [ -n "$t0" ] || t0=$(now_ms)
  actions=$((actions + 1)) last=$(since)
  printf '  %6s s  %2d. %s\n' "$last" "$actions" "$1"
}
# Polls every 20 ms until the command succeeds, at most $1 seconds: the operator acts as soon as
# the program shows what the action needs, and no later than the poll.
soon() {
  local end=$(($(now_ms) + $1 * 1000)); shift
  until "$@"; do [ "$(now_ms)" -lt "$end" ] || return 1; sleep 0.02; done
}
shown() { xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
# Answers the box titled $1 with Return as soon as it shows: one action.
reply() {
  soon 30 shown "$1" || { fail "no box titled '$1' showed"; return; }
  act "answer \"$1\""; answer "$1"
}
click2() {
  local w; w=$(window "$1")
  [ -z "$w" ] || xdotool windowactivate --sync "$w" mousemove --window "$w" "$2" "$3" click --repeat 2 --delay 40 1
}
# Whether the main panel's button at $1,$2, $3 wide, is live: its label black, not grey (dimmed).
# Dark in every colour channel, so that a button's red is not taken for text.
live() {
  local w; w=$(xdotool search --onlyvisible --name '^QUORVAT V6.0$' | head -1)
  [ -n "$w" ] && import -window "$w" -crop "${3}x28+$1+$2" +repage "$work/button.png" &&
    [ "$(convert "$work/button.png" -shave 6x6 -channel RGB -separate -evaluate-sequence max \
      -format '%[fx:minima<0.3]' info:)" = 1 ]
}
# Whether RESULT shows the green PASS.
passed() {
  local w; w=$(xdotool search --onlyvisible --name '^QUORVAT V6.0$' | head -1)
  [ -n "$w" ] && import -window "$w" -crop 688x60+32+586 +repage "$work/result.png" &&
    [ "$(convert "$work/result.png" -fuzz 5% -fill white +opaque '#1A8A2A' \
      -format '%[fx:minima<0.5]' info:)" = 1 ]
}
# The last factors the sensor was sent (SETCF), in decimal.
last_factors() {
  local f; f=$(grep '^00 55 00 08' "$1" | tail -1 | cut -d' ' -f5-10 | tr -d ' ')
  [ -z "$f" ] || echo $((16#${f:0:4})) $((16#${f:4:4})) $((16#${f:8:4}))
}

scenarios=(try_during_series close_during_series clicks_during_serial_check tcp_comes_back
           serial_comes_back stray_bytes_before_try trend_placement station_timing)
[ $# -eq 0 ] || scenarios=("$@")
xserver 1280x900
for name in "${scenarios[@]}"; do "scenario_$name"; done
[ ! -e "$work/failed" ]
