#!/bin/sh
# Makes the recorded JPEG and MPEG-4 RTP streams used by the interop tests:
# GStreamer's rtpjpegpay and rtpmp4vpay produce the packets, rtpstreampay
# frames each one with a 16-bit big-endian length (RFC 4571), and filesink
# writes them out. All 320x240, 10 frames (MPEG-4: 30) at 25/s, mtu 1000.
#
#   jpeg_q255.rtpstream          jpegenc (quality 85): type 1, Q=255, tables in the stream
#   jpeg_q50.rtpstream           jpegenc quality=50, whose tables are those
#                                RFC 2435 computes for Q=50 (the tests send it
#                                as Q=50 without tables, which rtpjpegpay
#                                cannot do itself)
#   jpeg_restart.rtpstream       FFmpeg's MJPEG encoder with two slice
#                                threads (restart markers, DRI 20): type 65
#   mpeg4.rtpstream              avenc_mpeg4, a key frame every 10, the
#                                configuration headers before every I-VOP
#
# Usage: make_jpeg_mpeg4_rtp.sh [output directory]   (default: this directory)
set -e
out=${1:-$(dirname "$0")}
source="videotestsrc num-buffers=10 pattern=smpte horizontal-speed=3 ! video/x-raw,width=320,height=240,framerate=25/1,format=I420"

gst-launch-1.0 -q $source ! jpegenc ! rtpjpegpay mtu=1000 \
  ! rtpstreampay ! filesink location="$out/jpeg_q255.rtpstream"
gst-launch-1.0 -q $source ! jpegenc quality=50 ! rtpjpegpay mtu=1000 \
  ! rtpstreampay ! filesink location="$out/jpeg_q50.rtpstream"

tmp=$(mktemp)
ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -frames:v 10 -pix_fmt yuvj420p \
  -c:v mjpeg -q:v 4 -threads 2 -thread_type slice -f mjpeg "$tmp"
gst-launch-1.0 -q filesrc location="$tmp" ! image/jpeg,framerate=25/1 ! jpegparse \
  ! rtpjpegpay mtu=1000 ! rtpstreampay ! filesink location="$out/jpeg_restart.rtpstream"
rm -f "$tmp"

gst-launch-1.0 -q videotestsrc num-buffers=30 pattern=smpte horizontal-speed=3 \
  ! video/x-raw,width=320,height=240,framerate=25/1 \
  ! avenc_mpeg4 gop-size=10 max-bframes=0 flags=bitexact ! rtpmp4vpay mtu=1000 config-interval=-1 \
  ! rtpstreampay ! filesink location="$out/mpeg4.rtpstream"
