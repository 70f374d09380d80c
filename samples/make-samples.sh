#!/usr/bin/env bash
# Makes the small sample files that `make run` and the README tour use:
#   sample.avi   3 s of 320x240 H.264 video at 25 fps with an AAC and an MP3
#                audio track (a test picture and two sine tones)
#   sample.h264  the same video as a raw Annex B stream
#   sample.srt   three subtitle entries over the same 3 s
#   sample.mkv   the same video, audio and subtitles in Matroska (mkvmerge),
#                with two chapters, a tag and a small attachment
# The files are checked in; run this script again only to change them.
# Usage: samples/make-samples.sh [OUTPUT_DIR]   (default: the script's folder)
set -euo pipefail
out="${1:-$(cd "$(dirname "$0")" && pwd)}"
mkdir -p "$out"
command -v ffmpeg >/dev/null || { echo "ffmpeg is needed (apt-get install ffmpeg)" >&2; exit 1; }

ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }
# bitexact keeps encoder banners and dates out, so reruns give the same bytes.
common=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact)

ff -f lavfi -i "testsrc2=size=320x240:rate=25:duration=3" \
   -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3" \
   -f lavfi -i "sine=frequency=660:sample_rate=44100:duration=3" \
   -map 0:v -map 1:a -map 2:a \
   -c:v libx264 -preset veryfast -profile:v main -bf 2 -g 25 -threads 1 \
   -x264-params "nal-hrd=none" -b:v 300k \
   -c:a:0 aac -b:a:0 64k -ac:a:0 2 \
   -c:a:1 libmp3lame -b:a:1 64k -ac:a:1 1 \
   "${common[@]}" "$out/sample.avi"

ff -i "$out/sample.avi" -map 0:v -c copy -bsf:v h264_mp4toannexb "${common[@]}" -f h264 "$out/sample.h264"

cat > "$out/sample.srt" <<'SRT'
1
00:00:00,200 --> 00:00:01,000
Hello from <i>zepdemux</i>

2
00:00:01,100 --> 00:00:02,000
Two lines:
the second one

3
00:00:02,100 --> 00:00:02,900
<font color="#FFFF00">Goodbye</font>
SRT

if command -v mkvmerge >/dev/null; then
  tmp="$(mktemp -d)"
  printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Opening\nCHAPTER02=00:00:01.500\nCHAPTER02NAME=Second half\n' \
    > "$tmp/chapters.txt"
  cat > "$tmp/tags.xml" <<'XML'
<?xml version="1.0"?>
<Tags><Tag><Targets><TargetTypeValue>50</TargetTypeValue></Targets>
<Simple><Name>TITLE</Name><String>zepdemux sample</String></Simple></Tag></Tags>
XML
  printf 'zepdemux sample attachment\n' > "$tmp/readme.txt"
  mkvmerge -q --no-date --disable-track-statistics-tags -o "$out/sample.mkv" --title "zepdemux sample" \
    --chapters "$tmp/chapters.txt" --global-tags "$tmp/tags.xml" \
    --attachment-mime-type text/plain --attach-file "$tmp/readme.txt" \
    "$out/sample.avi" "$out/sample.srt"
  rm -rf "$tmp"
fi

ls -l "$out"/sample.*
