#!/usr/bin/env bash
# Makes the set of real files that the golden packet lists and the damaged-file
# sweep read: AVI, Matroska and WebM written by ffmpeg and mkvmerge, a raw
# H.264 stream, SRT and ASS subtitles. Every encoder runs single-threaded with
# ffmpeg's bit-exact flags, so the payloads (and so the packet lists) are the
# same on every run of the same Debian release.
#
# usage: make-real-files.sh OUTDIR      (prints the files it made)
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
exact=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -threads 1)
video() { echo -f lavfi -i "testsrc2=size=${1:-160x120}:rate=${2:-25}:duration=${3:-3}"; }
audio() { echo -f lavfi -i "sine=frequency=${1:-440}:sample_rate=${2:-48000}:duration=${3:-3}"; }
x264=(-c:v libx264 -preset veryfast -g 25 -bf 2 -x264-params threads=1:sliced-threads=0)

cat > subs.srt <<'SRT'
1
00:00:00,200 --> 00:00:01,000
First line

2
00:00:01,100 --> 00:00:02,000
<i>Second</i> entry,
on two lines

3
00:00:02,100 --> 00:00:02,900
Third
SRT
cat > subs.ass <<'ASS'
[Script Info]
ScriptType: v4.00+
PlayResX: 320
PlayResY: 240

[V4+ Styles]
Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding
Style: Default,DejaVu Sans,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,1

[Events]
Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text
Dialogue: 0,0:00:00.20,0:00:01.00,Default,,0,0,0,,First {\i1}line{\i0}
Dialogue: 0,0:00:01.10,0:00:02.00,Default,,0,0,0,,Second\Nentry
Dialogue: 0,0:00:02.10,0:00:02.90,Default,,0,0,0,,Third
ASS

# shellcheck disable=SC2046
ff $(video) $(audio) "${exact[@]}" -c:v mpeg4 -vtag XVID -q:v 5 -c:a libmp3lame -b:a 64k \
  avi-mpeg4-mp3.avi
ff $(video 320x240) $(audio 440 48000) "${exact[@]}" "${x264[@]}" -c:a aac -b:a 64k avi-h264-aac.avi
ff $(video) $(audio 1000 44100) "${exact[@]}" -c:v mjpeg -q:v 8 -c:a pcm_s16le avi-mjpeg-pcm.avi
ff $(video) $(audio 660 48000) "${exact[@]}" -c:v mpeg4 -vtag FMP4 -c:a ac3 -b:a 96k avi-mpeg4-ac3.avi
ff $(video 320x240) $(audio) -i subs.srt -map 0 -map 1 -map 2 "${exact[@]}" "${x264[@]}" \
  -c:a aac -b:a 64k -c:s srt mkv-h264-aac-srt.mkv
ff $(video) $(audio 440 48000) -i subs.ass -map 0 -map 1 -map 2 "${exact[@]}" -c:v mpeg2video \
  -g 10 -c:a pcm_s16le -c:s copy mkv-mpeg2-pcm-ass.mkv
ff $(video 160x120 25 2) $(audio 440 48000 2) "${exact[@]}" -c:v libx265 \
  -x265-params pools=none:frame-threads=1:log-level=none -c:a aac -b:a 64k mkv-hevc-aac.mkv
ff $(video 320x240) "${exact[@]}" "${x264[@]}" -f h264 raw.h264
# mkvmerge: laced MP3 and AC-3 frames, a zlib-compressed subtitle track.
ff $(audio 440 44100) "${exact[@]}" -c:a libmp3lame -b:a 64k laced.mp3
ff $(audio 660 48000) "${exact[@]}" -c:a ac3 -b:a 96k laced.ac3
mkvmerge -q -o mkvmerge-laced-zlib.mkv laced.mp3 laced.ac3 --compression 0:zlib subs.srt
rm -f laced.mp3 laced.ac3
ls -1 "$out"
