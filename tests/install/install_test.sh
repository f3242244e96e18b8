#!/usr/bin/env bash
# Installs the build into a staging prefix, builds the SDK example against the
# staged files (find_package, then pkg-config), and streams from the staged
# simulated camera with it. Every file it reads comes from the staging prefix,
# not from the build tree.
#   install_test.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -euo pipefail
build="$1" source="$2" work="$3"
rm -rf "$work" && mkdir -p "$work"
stage="$work/stage"
cmake --install "$build" --prefix "$stage" >/dev/null
sim=""
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; wait 2>/dev/null || true' EXIT

# The staged tree is relocatable: move it and use it from there.
mv "$stage" "$work/moved" && stage="$work/moved"
test -x "$stage/bin/quarnel"
"$stage/bin/quarnel" --version | tee "$work/version.txt"
grep -q "^quarnel $(sed -n 's/.*project(quarnel VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")\$" "$work/version.txt"
grep -q "libquarnel.so.[0-9]*\.[0-9]*\.[0-9]* (ABI" "$work/version.txt"

for mode in find_package pkg-config; do
  flags=(-DCMAKE_PREFIX_PATH="$stage")
  [ "$mode" = pkg-config ] && flags=(-DQUARNEL_USE_PKGCONFIG=ON)
  PKG_CONFIG_PATH="$(dirname "$(find "$stage" -name quarnel.pc)")" \
    cmake -S "$source/examples" -B "$work/example-$mode" -G Ninja "${flags[@]}" >/dev/null
  cmake --build "$work/example-$mode" >/dev/null
done
pc="$(dirname "$(find "$stage" -name quarnel.pc)")"
include="$(PKG_CONFIG_PATH="$pc" pkg-config --cflags-only-I quarnel | sed 's/^-I//; s/ *$//')"
[ "$(realpath "$include")" = "$(realpath "$stage/include")" ] && test -f "$include/quarnel/Version.h"

"$stage/bin/quarnel" sim --ptz --seconds 60 >"$work/sim.log" 2>&1 &
sim=$!
port=""
for _ in $(seq 1 300); do
  port="$(sed -n 's|.*HTTP *http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/sim.log" | head -1)"
  [ -n "$port" ] && break
  kill -0 "$sim" 2>/dev/null || { cat "$work/sim.log"; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "the simulated camera printed no port"; cat "$work/sim.log"; exit 1; }

for mode in find_package pkg-config; do
  "$work/example-$mode/stream_host" 127.0.0.1 "$port" admin admin 4 "$work/$mode.h264" 2>"$work/$mode.log"
  errors="$(ffmpeg -v error -i "$work/$mode.h264" -f null - 2>&1 | head -5)"
  [ -z "$errors" ] || { echo "$mode: FFmpeg: $errors"; exit 1; }
  frames="$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/$mode.h264")"
  echo "$mode: $frames frames decode"
  [ "${frames:-0}" -gt 0 ]
done

# The capability query through the exports, then the device opened with the
# nine properties it wrote, and one PTZ move.
"$work/example-find_package/probe_host" 127.0.0.1 "$port" admin admin >"$work/probe.txt" 2>"$work/probe.log" ||
  { cat "$work/probe.txt" "$work/probe.log"; exit 1; }
cat "$work/probe.txt"
grep -q "PTZ Capabilities *Pan=1" "$work/probe.txt"
grep -q "^PTZ: move right queued, stop queued$" "$work/probe.txt"
