#!/usr/bin/env bash
# An impatient operator at a real X server: the program under Xvfb with a window manager, the
# simulator as the sensor, clicks and keys from xdotool while the program waits. Each scenario
# checks what the sensor received and whether the program ended, and leaves a screenshot in
# build/default/bin/screenshots/. The last one opens the trend window on three screens and
# checks where it goes. Run after a build: ./scripts/operator-xvfb.sh
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh xvfb
bin=$PWD/build/default/bin
shots=$bin/screenshots
work=$(mktemp -d)
mkdir -p "$shots"
export DISPLAY=:47
Xvfb "$DISPLAY" -screen 0 1280x900x24 >/dev/null 2>&1 & xserver=$!
more=() # the X servers and window managers of the trend window's screens
trap 'pkill -f "$work" || true; kill $xserver $wm "${more[@]}" 2>/dev/null; rm -rf "$work"' EXIT
sleep 0.5
openbox >/dev/null 2>&1 & wm=$!
sleep 0.5
failed=0

window() { xdotool search --sync --onlyvisible --name "^$1\$" | head -1; }
click() { local w; w=$(window "$1"); xdotool windowactivate --sync "$w" mousemove --window "$w" "$2" "$3" click 1; }
shot() { xwd -root -silent | convert xwd:- "$shots/$1"; }
frames() { grep -c "^00 55 00 0$2" "$1" || true; }
check() { if eval "$2"; then echo "  ok: $1"; else echo "  FAILED: $1"; failed=1; fi; }
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
program() { # a copy of the program whose connection panel starts with $1 (tcp or serial)
  mkdir -p "$work/$1" && cp "$bin/quorvat" "$bin"/*.uir "$bin"/*.png "$work/$1/"
  python3 - "$work/$1/QuorvatV60.uir" "$1" "$port" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
for c in next(p for p in d["panels"] if p["resource"] == 1)["controls"]:
    if c["id"] == 2:
        c["value"] = 1 if sys.argv[2] == "tcp" else 0
    if c["id"] == 8:
        c["value"] = sys.argv[3]
json.dump(d, open(sys.argv[1], "w"))
PY
  echo "$work/$1/quorvat"
}
sim() { "$bin/quorvat-sensorsim" "$@" >/dev/null 2>&1 & echo $!; }
# waits until the sensor has received `n` frames of code `c` (at most 10 s), then a moment more
seen() { for _ in $(seq 200); do [ "$(frames "$1" "$2")" -ge "$3" ] && { sleep 0.5; return 0; }; sleep 0.05; done; return 1; }
# the first SETCF frame's three factors each within 4 of those given
factors_near() {
  local f; f=$(grep -m1 '^00 55 00 08' "$1" | cut -d' ' -f5-10 | tr -d ' ')
  [ -n "$f" ] || { echo "  (no factors were sent)"; return 1; }
  local got=($((16#${f:0:4})) $((16#${f:4:4})) $((16#${f:8:4}))) want=("$2" "$3" "$4")
  echo "  (factors sent: ${got[*]})"
  for i in 0 1 2; do [ $((got[i] - want[i])) -le 4 ] && [ $((want[i] - got[i])) -le 4 ] || return 1; done
}
ended() { for _ in $(seq 60); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.05; done; return 1; }

echo "CALCULATE running; CONNECT, then TRY TO CONNECT: the try is refused, the factors are right"
s=$(sim --port "$port" --fault late:cmd=GETDATA,ms=15 --log "$work/a.log")
sleep 0.3; "$(program tcp)" 2>/dev/null & p=$!
seen "$work/a.log" 7 1; click "QUORVAT V6.0" 166 420; sleep 0.5; xdotool key Return
sleep 0.3; click "QUORVAT V6.0" 656 420
sleep 0.4; click "QUORVAT V6.0 - CONNECTION" 76 242; sleep 0.1; shot operator-try-during-series.png
sleep 2.5; xdotool key Return; sleep 0.7; click "QUORVAT V6.0" 656 384; sleep 0.3
check "one version request, at start-up" "[ $(frames "$work/a.log" 7) -eq 1 ]"
# The readings are about 1000, 1025 and 975 at the factory POWER: factors near 1024, 999, 1050.
check "the factors of the readings sent" "factors_near $work/a.log 1024 999 1050"
kill $p $s; wait $p $s 2>/dev/null || true

echo "The close box during the calibration series: the program ends after the reading in hand"
s=$(sim --port "$port" --fault late:cmd=GETDATA,ms=15 --log "$work/b.log")
sleep 0.3; "$(program tcp)" 2>/dev/null & p=$!
seen "$work/b.log" 7 1; click "QUORVAT V6.0" 166 420; sleep 0.5; xdotool key Return; sleep 0.5
xdotool windowactivate --sync "$(window "QUORVAT V6.0")" key alt+F4
check "the program ended" "ended $p"
check "no factors sent after the close" "[ $(frames "$work/b.log" 8) -eq 0 ]"
kill $p $s 2>/dev/null; wait $p $s 2>/dev/null || true

echo "GO and GET CF clicked while the serial link check holds the program"
s=$(sim --no-tcp --pty "$work/sensor" --fault noreply:cmd=GETVERSION,nth=1 --log "$work/c.log")
sleep 0.5; QUORVAT_COM1=$work/sensor "$(program serial)" 2>/dev/null & p=$!
sleep 0.8; shot operator-serial-check.png
click "QUORVAT V6.0" 516 384; sleep 0.2; click "QUORVAT V6.0" 236 384; sleep 3
check "neither command ran: the buttons were dimmed" "[ $(frames "$work/c.log" 5) -eq 0 ] && [ $(frames "$work/c.log" 9) -eq 0 ]"
kill $p $s; wait $p $s 2>/dev/null || true

echo "TREND beside the main panel, clear of its commands; closed, moved and reopened at the next start"
# x y width height of a window's inside, and of its frame (the window manager's extents around it)
inside() { xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width/{w=$NF} /Height/{h=$NF} END{print x, y, w, h}'; }
outside() {
  local x y w h l r t b
  read -r x y w h < <(inside "$1"); read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  echo $((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))
}
apart() { [ $(($1 + $3)) -le "$5" ] || [ $(($5 + $7)) -le "$1" ] || [ $(($2 + $4)) -le "$6" ] || [ $(($6 + $8)) -le "$2" ]; }
n=0
# beside: the screen has room for the trend window beside the main panel. over: no side of it
# holds even the smallest trend window beside the main panel (760x724 since the SENSOR group), so
# it covers the panel's banner, clear of everything below it.
for screen in 1600x1200:1:over 1920x1080:1:beside 3200x2400:2:over; do
  size=${screen%%:*} rest=${screen#*:} n=$((n + 1))
  s=${rest%:*} where=${rest#*:}
  export DISPLAY=:$((47 + n))
  Xvfb "$DISPLAY" -screen 0 "${size}x24" >/dev/null 2>&1 & more+=($!)
  sleep 0.5; openbox >/dev/null 2>&1 & more+=($!); sleep 0.5
  dir=$work/place$n; mkdir -p "$dir"; [ -d "$work/tcp" ] || program tcp >/dev/null; cp "$work"/tcp/* "$dir/"
  s1=$(sim --port "$port")
  sleep 0.3; QT_SCALE_FACTOR=$s "$dir/quorvat" 2>/dev/null & p=$!
  sleep 1.5; click "QUORVAT V6.0" $((656 * s)) $((216 * s)); window "QUORVAT V6.0 - TREND" >/dev/null; sleep 0.5
  main=$(window "QUORVAT V6.0"); trend=$(window "QUORVAT V6.0 - TREND")
  read -r mx my mw mh < <(inside "$main"); read -r -a m < <(outside "$main"); read -r -a t < <(outside "$trend")
  shot "trend-beside-$size.png"
  echo "  main panel at ${m[*]}, trend window at ${t[*]} (frames, device pixels)"
  check "$size: clear of everything below the banner" "apart ${t[*]} $((mx + 16 * s)) $((my + 74 * s)) $((728 * s)) $((636 * s))"
  [ "$where" = over ] || check "$size: clear of the main panel" "apart ${t[*]} ${m[*]}"
  check "$size: on the screen" "[ ${t[0]} -ge 0 ] && [ ${t[1]} -ge 0 ] && [ $((t[0] + t[2])) -le ${size%x*} ] && [ $((t[1] + t[3])) -le ${size#*x} ]"
  xdotool windowmove "$trend" $((40 * s)) $((60 * s)); sleep 0.3; put=$(inside "$trend")
  xdotool windowactivate --sync "$trend" key alt+F4; sleep 0.3
  xdotool windowactivate --sync "$main" key alt+F4; ended $p || kill $p
  QT_SCALE_FACTOR=$s "$dir/quorvat" 2>/dev/null & p=$!
  sleep 1.5; click "QUORVAT V6.0" $((656 * s)) $((216 * s)); sleep 0.5
  check "$size: reopened where it was put ($put)" "[ \"$(inside "$(window "QUORVAT V6.0 - TREND")")\" = \"$put\" ]"
  kill $p $s1; wait $p $s1 2>/dev/null || true
done

exit $failed
