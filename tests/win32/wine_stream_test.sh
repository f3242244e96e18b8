#!/usr/bin/env bash
# quarnel.exe stream under Wine loads Quarnel.dll and streams channel 0 of
# the simulated camera, which runs natively (the Linux build's quarnel sim) on
# 127.0.0.1, with the device options the simulated camera prints; the file it
# writes must decode in FFmpeg without a complaint.
#
#   wine_stream_test.sh QUARNEL WORK QUARNEL_EXE EMULATOR...
# Exits 77 (skipped) when the Linux build's quarnel is not there.
set -euo pipefail
quarnel="$1" work="$2" exe="$3"
shift 3
if [ ! -x "$quarnel" ]; then
  echo "no Linux build of quarnel at $quarnel: skipped"
  exit 77
fi
rm -rf "$work" && mkdir -p "$work"
sim=""
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; wait 2>/dev/null || true' EXIT

"$quarnel" sim --seconds 120 >"$work/sim.log" 2>&1 &
sim=$!
options=""
for _ in $(seq 1 300); do
  options="$(sed -n 's|^  quarnel stream \(.*--address 127.0.0.1 .*\)$|\1|p' "$work/sim.log" | head -1)"
  [ -n "$options" ] && break
  kill -0 "$sim" 2>/dev/null || { cat "$work/sim.log"; exit 1; }
  sleep 0.1
done
[ -n "$options" ] || { echo "the simulated camera printed no stream command"; cat "$work/sim.log"; exit 1; }

status=0
# shellcheck disable=SC2086 # the simulated camera's options, word by word
"$@" "$exe" stream $options --seconds 6 --out "$work/wine.h264" >"$work/stream.log" 2>&1 </dev/null || status=$?
tail -n 20 "$work/stream.log"
[ "$status" -eq 0 ] || { echo "quarnel.exe stream failed ($status)"; exit 1; }
errors="$(ffmpeg -v error -i "$work/wine.h264" -f null - 2>&1 | head -5)"
[ -z "$errors" ] || { echo "FFmpeg: $errors"; exit 1; }
frames="$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/wine.h264")"
echo "$frames frames decode"
[ "${frames:-0}" -gt 0 ]
