#!/bin/sh
# Makes the recorded H.264 RTP streams used by the interop tests: GStreamer's
# x264enc and rtph264pay produce the packets, rtpstreampay frames each one
# with a 16-bit big-endian length (RFC 4571), and filesink writes them out.
#
#   h264_fua.rtpstream     320x240, 50 frames at 25/s, key frame every 25;
#                          in-band SPS/PPS and AUDs as single NAL units,
#                          slices mostly in FU-A fragments (mtu 1400).
#   h264_slices.rtpstream  352x288, 40 frames, zero-latency tuning with four
#                          slice threads (several slices per picture, the first
#                          ones aggregated in STAP-A with the AUD, later ones
#                          fragmented), in-band SPS/PPS in STAP-A too.
#
# Next to each recording, NAME.md5 lists the MD5 of every decoded picture
# (FFmpeg's framemd5) of the stream as GStreamer's own rtph264depay rebuilds
# it: the pictures our depacketizer delivers must decode to the same.
#
# Usage: make_h264_rtp.sh [output directory]   (default: this directory)
set -e
out=${1:-$(dirname "$0")}

gst-launch-1.0 -q videotestsrc num-buffers=50 pattern=smpte horizontal-speed=3 \
  ! video/x-raw,width=320,height=240,framerate=25/1 \
  ! x264enc key-int-max=25 bframes=0 bitrate=500 speed-preset=ultrafast \
  ! rtph264pay mtu=1400 pt=96 \
  ! rtpstreampay ! filesink location="$out/h264_fua.rtpstream"

gst-launch-1.0 -q videotestsrc num-buffers=40 pattern=smpte horizontal-speed=5 \
  ! video/x-raw,width=352,height=288,framerate=25/1 \
  ! x264enc tune=zerolatency key-int-max=20 bitrate=800 speed-preset=ultrafast threads=4 \
  ! rtph264pay mtu=1000 pt=96 aggregate-mode=zero-latency \
  ! rtpstreampay ! filesink location="$out/h264_slices.rtpstream"

for name in h264_fua h264_slices; do
  tmp=$(mktemp)
  gst-launch-1.0 -q filesrc location="$out/$name.rtpstream" \
    ! application/x-rtp-stream,media=video,clock-rate=90000,encoding-name=H264 \
    ! rtpstreamdepay ! rtph264depay \
    ! video/x-h264,stream-format=byte-stream,alignment=au ! filesink location="$tmp"
  ffmpeg -nostdin -v error -f h264 -i "$tmp" -f framemd5 - | grep -v '^#' | awk -F', *' '{print $6}' \
    > "$out/$name.md5"
  rm -f "$tmp"
done
