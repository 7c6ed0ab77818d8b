#!/usr/bin/env bash
# Generates the test clip corpus with the ffmpeg command-line tool.
#   make_clips.sh OUTDIR          -> every clip into OUTDIR, then OUTDIR/corpus.stamp
#   make_clips.sh --one OUTDIR N  -> only clip N (used by the parallel runner below)
#
# Every picture carries its frame number as bands (see framenumber_filter.sh) and every sound is a
# 440 Hz sine at ffmpeg's default amplitude (1/8), so tests can check what they decoded rather than
# only that something came out. Each clip is written under a temporary name and renamed when
# complete, and the stamp is touched last, so an interrupted run never leaves a clip or a stamp that
# looks finished.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=framenumber_filter.sh
source "$here/framenumber_filter.sh"

# One clip a line, longest first: its name, then the ffmpeg arguments that write it to "$t"
# (evaluated; "&& ..." finishes a clip). The helpers:
#   v R D      a picture source at R pictures a second for D seconds; it only feeds the band filter
#              $vf, which draws every pixel and numbers the pictures from 0
#   a D [centre]  the tone on both stereo channels at full level (ffmpeg would spread a mono source
#              at -3 dB), or in the centre channel of 5.1 only
#   g G        x264, a keyframe exactly every G pictures and none at scene cuts; $B forces B-frames
#              (without b-adapt=0 x264 may decide a static picture needs none)
#   m2 G       MPEG-2 with closed GOPs (open ones drift off the grid: keyframes at 27, 51, 75 ...),
#              which need scene-change keyframes off, and MP2 sound
#   c SIZE     one colour, (32,192,64) before encoding, converted with the matrix and range the
#              clip is tagged with (the tests compare the screen with ffmpeg's own conversion)
#   rename F OLD NEW   a codec ID renamed to one libavformat does not know
read -r -d '' table <<'TABLE' || true
h264_long.mp4        $(v 25 40) $(a 40) -vf "$vf" $(g 25) $B $A $M "$t"
vp9_opus.mkv         $(v 25 8) $(a 8) -vf "$vf,format=yuv420p" -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 300k -g 25 -keyint_min 25 -lag-in-frames 0 $O -f matroska "$t"
h264_aac.mp4         $(v 25 8) $(a 8) -vf "$vf" $(g 25) $B $A $M "$t"
# Compared picture by picture with h264_aac.mp4, so the audio keeps its negative start instead of
# the muxer shifting every stream by the AAC priming (21 ms).
h264_nobframes.mkv   $(v 25 8) $(a 8) -vf "$vf" $(g 25) -bf 0 $A -avoid_negative_ts disabled -f matroska "$t"
mpeg2_mp2.mpg        $(v 25 8) $(a 8) -vf "$vf,format=yuv420p" $(m2 25) -f vob "$t"
h264_noaudio.mp4     $(v 25 8) -vf "$vf" $(g 25) $B -an $M "$t"
audio_only.m4a       $(a 8) -vn $A -movflags +faststart -f ipod "$t"
# A player that keeps just the first two channels instead of downmixing plays silence.
surround51.mp4       $(v 25 8) $(a 8 centre) -vf "$vf" $(g 25) $B -c:a aac -b:a 192k -ar 48000 $M "$t"
# libx264 refuses odd sizes in 4:2:0, mpeg4 takes them; crop would round to an even size.
odd_321x241.mkv      $(v 25 8) $(a 8) -vf "$(framenumber_filter 321 241),format=yuv420p" -c:v mpeg4 -q:v 3 -g 25 -bf 0 -sc_threshold 1000000000 $A -f matroska "$t"
subtitles.mkv        $(v 25 8) $(a 8) $(cues "$t.srt") -map 0:v -map 1:a -map 2:s -vf "$vf" $(g 25) $B $A -c:s srt -f matroska "$t"
ts_offset10.ts       $(v 25 8) $(a 8) -vf "$vf" $(g 25) $B $A -output_ts_offset 10 -f mpegts "$t"
h264_60fps.mp4       $(v 60 4) $(a 4) -vf "$vf" $(g 60) $B $A $M "$t"
# Frame N shows at floor(N/2)*120 ms + (N mod 2)*40 ms, whole milliseconds: 100 pictures in 6 s.
vfr.mkv              $(v 25 4) $(a 6) -vf "$vf,settb=1/1000,setpts='floor(N/2)*120+mod(N\,2)*40'" -frames:v 100 -fps_mode passthrough -enc_time_base 1/1000 $(g 25) $A -f matroska "$t"
no_decoder.mkv       $(v 25 8) $(a 8) -vf "$vf" $(g 25) $A -f matroska "$t" && rename "$t" V_MPEG4/ISO/AVC V_MPEG4/ISO/XVC
# Every picture claims a time about half a second after its own; the sound keeps its times.
shifted_setts.mkv    $(v 25 8) $(a 8) -vf "$vf" $(g 25) $A -f mp4 "$t.mp4" && ff -i "$t.mp4" -c copy -bsf:v "setts=ts=TS+12*DURATION" -f matroska "$t"
# Sound that does not cover the picture: it starts at 2 s (an empty edit), ends at 2 s, has a hole
# from 2 s to 4 s, or comes a second (60 pictures) after its pictures in 2 s fragments.
sound_late.mp4       $(v 25 6) -itsoffset 2 $(a 4) -vf "$vf" $(g 25) $B $A $M "$t"
sound_short60.ts     $(v 60 5) $(a 2) -vf "$vf" $(g 60) $B $A -f mpegts "$t"
sound_hole.mkv       $(v 25 6) $(a 6) -vf "$vf" -af "aselect='not(between(t\,2\,4))'" $(g 25) $B $O -f matroska "$t"
sound_coarse.mp4     $(v 60 4) $(a 4) -vf "$vf" $(g 120) $B $A -movflags +frag_keyframe+empty_moov -f mp4 "$t"
mpeg2_gop12.mpg      $(v 25 6) $(a 6) -vf "$vf,format=yuv420p" $(m2 12) -f vob "$t"
no_audio_decoder.mkv $(v 25 8) $(a 8) -vf "$vf" $(g 25) -bf 0 $A -f matroska "$t" && rename "$t" A_AAC A_XXX
# Seeks from the start on every container, with and without B-frames (or VP9's hidden alt-ref
# pictures): AVI packets carry only decoding stamps, FLV and AVI refuse a search before their first
# index entry, MPEG-TS and -PS are searched by decoding time. The TS with two sound tracks (AAC and
# MP2) plays the first; the second must cost nothing. In a folder of their own, so the hostile
# corpus does not cut them too (its cuts of the other clips cover truncated files).
landing/avi_b.avi    $(v 25 4) $(a 4) -vf "$vf,format=yuv420p" -c:v mpeg4 -q:v 4 -g 25 -bf 2 -sc_threshold 1000000000 $L -f avi "$t"
landing/avi.avi      $(v 25 4) $(a 4) -vf "$vf,format=yuv420p" -c:v mpeg4 -q:v 4 -g 25 -bf 0 -sc_threshold 1000000000 $L -f avi "$t"
landing/flv_b.flv    $(v 25 4) $(a 4) -vf "$vf" $(g 25) $B $A -f flv "$t"
landing/flv.flv      $(v 25 4) $(a 4) -vf "$vf" $(g 25) -bf 0 $A -f flv "$t"
landing/mov_b.mov    $(v 25 4) $(a 4) -vf "$vf" $(g 25) $B $A -movflags +faststart -f mov "$t"
landing/mov.mov      $(v 25 4) $(a 4) -vf "$vf" $(g 25) -bf 0 $A -movflags +faststart -f mov "$t"
landing/mp4.mp4      $(v 25 4) $(a 4) -vf "$vf" $(g 25) -bf 0 $A $M "$t"
landing/webm_altref.webm $(v 25 4) $(a 4) -vf "$vf,format=yuv420p" -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 300k -g 25 -keyint_min 25 -lag-in-frames 10 -auto-alt-ref 1 $O -f webm "$t"
landing/ts.ts        $(v 25 4) $(a 4) -vf "$vf" $(g 25) -bf 0 $A -f mpegts "$t"
landing/ts_two_tracks.ts $(v 25 4) $(a 4) $(a 4) -map 0:v -map 1:a -map 2:a -vf "$vf" $(g 25) $B -c:a:0 aac -b:a:0 96k -c:a:1 mp2 -b:a:1 128k -ac 2 -ar 48000 -f mpegts "$t"
# Its 33-bit stamps wrap 2 s in (the muxer's 1.4 s delay added to the offset): libavformat
# unwraps them by starting the clip at -2 s.
landing/ts_wrap.ts   $(v 25 4) $(a 4) -vf "$vf" $(g 25) $B $A -output_ts_offset 95440.3177 -f mpegts "$t"
landing/ps.mpg       $(v 25 4) $(a 4) -vf "$vf,format=yuv420p" $(m2 25) -bf 0 -f vob "$t"
colour_bt601_576.mkv $(c 720x576) -vf "scale=out_color_matrix=bt601:out_range=tv,format=yuv420p" -colorspace bt470bg -color_range tv $(g 25) -f matroska "$t"
colour_bt709_720.mkv $(c 1280x720) -vf "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p" -colorspace bt709 -color_range tv $(g 25) -f matroska "$t"
colour_full_480.mkv  $(c 640x480) -vf "scale=out_color_matrix=bt601:out_range=pc,format=yuvj420p" -colorspace smpte170m -color_range pc -c:v libx264 -preset veryfast -pix_fmt yuvj420p -f matroska "$t"
# Frame numbers in the sampling and depths that the engine converts to 8-bit 4:2:0.
bands_422.mkv        $(v 25 1) -vf "$vf,format=yuv422p" -c:v libx264 -preset veryfast -pix_fmt yuv422p -f matroska "$t"
bands_444.mkv        $(v 25 1) -vf "$vf,format=yuv444p" -c:v libx264 -preset veryfast -pix_fmt yuv444p -f matroska "$t"
bands_10bit.mkv      $(v 25 1) -vf "$vf,format=yuv420p10le" -c:v libx264 -preset veryfast -pix_fmt yuv420p10le -f matroska "$t"
# A 16:9 picture stored 720x576 at a sample aspect of 64:45: the white box (141 x 200 stored
# pixels) is square on a screen that honours the aspect.
square_64x45.mkv     -f lavfi -i color=c=black:s=720x576:r=25:d=1 -vf "drawbox=x=290:y=188:w=141:h=200:color=white:t=fill,setsar=64/45,format=yuv420p" $(g 25) -f matroska "$t"
# Red above row 120 and left of column 160, blue elsewhere: chroma planes 161 samples wide, rows
# of odd length, and a picture that is not the same upside down.
redblue_321x241.mkv  -f lavfi -i color=c=blue:s=2x2:r=25:d=1 -vf "format=rgb24,scale=321:241:flags=neighbor,drawbox=x=0:y=0:w=160:h=120:color=red:t=fill,setsar=1,format=yuv420p" -c:v mpeg4 -q:v 2 -f matroska "$t"
TABLE

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
v() { echo "-f lavfi -i color=c=black:s=12x2:r=$1:d=$2"; }
a() { echo "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=$1,$([[ ${2:-} == centre ]] && echo 'pan=5.1|c2=c0' || echo 'pan=stereo|c0=c0|c1=c0')"; }
g() { echo "-c:v libx264 -preset veryfast -pix_fmt yuv420p -g $1 -keyint_min $1 -sc_threshold 0"; }
m2() { echo "-c:v mpeg2video -q:v 4 -g $1 -bf 2 -flags +cgop -sc_threshold 1000000000 -c:a mp2 -b:a 192k -ac 2 -ar 48000"; }
c() { echo "-f lavfi -i color=c=0x20C040:s=$1:r=25:d=1"; }
cues() { # four 2-second cues, "First cue" to "Fourth cue"
    local i=0 w
    for w in First Second Third Fourth; do
        printf '%d\n00:00:0%d,000 --> 00:00:0%d,000\n%s cue\n\n' $((i + 1)) $((2 * i)) $((2 * i + 2)) $w
        i=$((i + 1))
    done >"$1"
    echo "-i $1"
}
rename() {
    python3 -c "import sys; p, o, n = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode(); d = open(p, 'rb').read()
assert d.count(o) == 1, 'expected one %r' % o; open(p, 'wb').write(d.replace(o, n))" "$@"
}
B="-bf 3 -x264-params b-adapt=0"
A="-c:a aac -b:a 96k -ac 2 -ar 48000"
O="-c:a libopus -b:a 64k -ac 2 -ar 48000"
L="-c:a libmp3lame -b:a 96k -ac 2 -ar 48000"
M="-movflags +faststart -f mp4"
vf=$(framenumber_filter 320 240)
clips=$(grep -v '^#' <<<"$table" | cut -d' ' -f1)

if [[ ${1:-} == --one ]]; then
    out=$2 name=$3
    # Hidden and marked partial until complete; helper files share the prefix so that the next
    # run's clean-up finds them after an interrupted one.
    t="$out/.partial-$$-${name//\//-}"
    trap 'rm -f "$t" "$t".*' EXIT
    started=$SECONDS
    row=$(grep "^$name " <<<"$table") || { echo "make_clips.sh: unknown clip $name" >&2; exit 1; }
    eval "ff ${row#"$name"}"
    mkdir -p "$(dirname "$out/$name")"
    mv -f "$t" "$out/$name"
    echo "make_clips.sh: $name ($((SECONDS - started)) s)"
    exit 0
fi

[[ $# -eq 1 ]] || { echo "usage: make_clips.sh OUTDIR" >&2; exit 2; }
out=$1
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/corpus.stamp" "$out"/.partial-*
# Two encodes at a time (two cores).
started=$SECONDS
xargs -P 2 -I{} bash "$here/make_clips.sh" --one "$out" {} <<<"$clips"
echo "make_clips.sh: corpus done in $((SECONDS - started)) s"
touch "$out/corpus.stamp"
