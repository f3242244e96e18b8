#!/usr/bin/env bash
# stream_host.exe under Wine loads Quarnel.dll and streams channel 0 of the
# simulated camera, which runs natively (the Linux build's quarnel sim) on
# 127.0.0.1; the file it writes must decode in FFmpeg without a complaint.
#
#   wine_stream_test.sh QUARNEL WORK STREAM_HOST_EXE QUARNEL_DLL EMULATOR...
# Exits 77 (skipped) when the Linux build's quarnel is not there.
set -euo pipefail
quarnel="$1" work="$2" host="$3" dll="$4"
shift 4
if [ ! -x "$quarnel" ]; then
  echo "no Linux build of quarnel at $quarnel: skipped"
  exit 77
fi
rm -rf "$work" && mkdir -p "$work"
sim=""
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; wait 2>/dev/null || true' EXIT

"$quarnel" sim --seconds 120 >"$work/sim.log" 2>&1 &
sim=$!
port=""
for _ in $(seq 1 300); do
  port="$(sed -n 's|.*HTTP *http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/sim.log" | head -1)"
  [ -n "$port" ] && break
  kill -0 "$sim" 2>/dev/null || { cat "$work/sim.log"; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "the simulated camera printed no port"; cat "$work/sim.log"; exit 1; }

status=0
"$@" "$host" 127.0.0.1 "$port" admin admin 6 "$work/wine.h264" "$dll" >"$work/host.log" 2>&1 || status=$?
cat "$work/host.log"
[ "$status" -eq 0 ] || { echo "stream_host.exe failed ($status)"; exit 1; }
errors="$(ffmpeg -v error -i "$work/wine.h264" -f null - 2>&1 | head -5)"
[ -z "$errors" ] || { echo "FFmpeg: $errors"; exit 1; }
frames="$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/wine.h264")"
echo "$frames frames decode"
[ "${frames:-0}" -gt 0 ]
