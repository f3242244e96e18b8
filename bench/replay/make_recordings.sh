#!/bin/sh
# Makes the RTP recordings the simulated camera replays (quarnel sim --replay)
# for the whole-process benchmark: GStreamer's encoders and payloaders produce
# the packets, rtpstreampay frames each one with a 16-bit big-endian length
# (RFC 4571). A few seconds each; the camera loops them.
#
#   h264_1080p_2m.rtpstream   1920x1080 at 25/s, ~2 Mbit/s, key frame every 50 (~57 KB)
#   h264_1080p_6m.rtpstream   1920x1080 at 25/s, ~6 Mbit/s, key frame every 50
#                             (~100 KB, which the camera sends in one burst)
#   h264_cif.rtpstream        352x288 at 25/s, ~512 kbit/s, key frame every 25
#   jpeg_cif.rtpstream        352x288 at 25/s, JPEG quality 75
#   mpeg4_cif.rtpstream       352x288 at 25/s, MPEG-4 (FFmpeg's encoder), key frame every 25
#
# All carry SPS/PPS (MPEG-4: VOS/VOL) in band before every key frame as well.
# Usage: make_recordings.sh [output directory]   (default: this directory)
set -e
out=${1:-$(dirname "$0")}
mkdir -p "$out"
src() { echo "videotestsrc num-buffers=$1 pattern=smpte horizontal-speed=4 ! video/x-raw,width=$2,height=$3,framerate=25/1,format=I420"; }
h264() { echo "x264enc speed-preset=ultrafast bitrate=$1 key-int-max=$2 bframes=0 threads=1 ! video/x-h264,profile=baseline ! rtph264pay mtu=1400 pt=96 config-interval=-1"; }
record() { gst-launch-1.0 -q $1 ! rtpstreampay ! filesink location="$out/$2.tmp" && mv "$out/$2.tmp" "$out/$2"; }

record "$(src 100 1920 1080) ! $(h264 2000 50)" h264_1080p_2m.rtpstream
record "$(src 100 1920 1080) ! $(h264 6000 50)" h264_1080p_6m.rtpstream
record "$(src 100 352 288) ! $(h264 512 25)" h264_cif.rtpstream
record "$(src 50 352 288) ! jpegenc quality=75 ! rtpjpegpay mtu=1400" jpeg_cif.rtpstream
# GStreamer's avenc_mpeg4 loses the time stamps (every packet would carry
# one), so FFmpeg encodes into an MP4 file whose times qtdemux hands on.
tmp=$(mktemp --suffix=.mp4)
ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=352x288:rate=25 -frames:v 100 -c:v mpeg4 -b:v 1M -g 25 -bf 0 "$tmp"
record "filesrc location=$tmp ! qtdemux ! mpeg4videoparse config-interval=-1 ! rtpmp4vpay mtu=1400 pt=96 config-interval=-1" mpeg4_cif.rtpstream
rm -f "$tmp"
