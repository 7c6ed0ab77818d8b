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

clips=(
    h264_long.mp4
    vp9_opus.mkv
    h264_aac.mp4
    h264_nobframes.mkv
    mpeg2_mp2.mpg
    h264_noaudio.mp4
    audio_only.m4a
    surround51.mp4
    odd_321x241.mkv
    subtitles.mkv
    ts_offset10.ts
    h264_60fps.mp4
    vfr.mkv
    no_decoder.mkv
    shifted_setts.mkv
    sound_late.mp4
    sound_short60.ts
    sound_hole.mkv
    sound_coarse.mp4
    mpeg2_gop12.mpg
    no_audio_decoder.mkv
    # The picture path: colours, sampling and depths, display aspect, odd chroma size.
    colour_bt601_576.mkv
    colour_bt709_720.mkv
    colour_full_480.mkv
    bands_422.mkv
    bands_444.mkv
    bands_10bit.mkv
    square_64x45.mkv
    redblue_321x241.mkv
)

ff() {
    ffmpeg -nostdin -hide_banner -loglevel error -y "$@"
}

# A picture source at R pictures a second for D seconds. It only feeds the band filter, which draws
# every pixel itself and numbers the pictures from 0, so its size and colour do not matter.
video_in() { # R D
    echo "-f lavfi -i color=c=black:s=12x2:r=$1:d=$2"
}
# The tone is copied to both stereo channels at full level; left to ffmpeg, a mono source would be
# spread at -3 dB. With "centre" it goes to the centre of 5.1 only.
tone_in() { # D [centre]
    local layout="pan=stereo|c0=c0|c1=c0"
    [[ ${2:-} == centre ]] && layout="pan=5.1|c2=c0"
    echo "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=$1,$layout"
}

# x264 with a keyframe exactly every G pictures and no extra keyframes at scene cuts.
x264_gop() { # G
    echo "-c:v libx264 -preset veryfast -pix_fmt yuv420p -g $1 -keyint_min $1 -sc_threshold 0"
}
# Forces B-frames: without b-adapt=0 x264 may decide a static picture needs none.
x264_bframes="-bf 3 -x264-params b-adapt=0"
aac_stereo="-c:a aac -b:a 96k -ac 2 -ar 48000"

make_one() { # NAME TMP
    local name=$1 tmp=$2
    local W=320 H=240
    local vf
    vf=$(framenumber_filter $W $H)
    # Word splitting of the helper outputs is intended: they are argument lists.
    # shellcheck disable=SC2046,SC2086
    case $name in
    h264_aac.mp4)
        ff $(video_in 25 8) $(tone_in 8) -vf "$vf" $(x264_gop 25) $x264_bframes $aac_stereo \
            -movflags +faststart -f mp4 "$tmp" ;;
    h264_nobframes.mkv)
        # Compared picture by picture with h264_aac.mp4, so its pictures keep the same times: by
        # default the Matroska muxer would shift every stream by the AAC encoder's 21 ms priming
        # (the audio starts below zero); here the audio keeps its negative start instead.
        ff $(video_in 25 8) $(tone_in 8) -vf "$vf" $(x264_gop 25) -bf 0 $aac_stereo \
            -avoid_negative_ts disabled -f matroska "$tmp" ;;
    mpeg2_mp2.mpg)
        # With open GOPs and B-frames the MPEG-2 encoder drifts off the 25-picture grid (keyframes
        # at pictures 27, 51, 75, ...); closed GOPs keep it, and closed GOPs require scene-change
        # keyframes to be off.
        ff $(video_in 25 8) $(tone_in 8) -vf "$vf,format=yuv420p" \
            -c:v mpeg2video -q:v 4 -g 25 -bf 2 -flags +cgop -sc_threshold 1000000000 \
            -c:a mp2 -b:a 192k -ac 2 -ar 48000 -f vob "$tmp" ;;
    vp9_opus.mkv)
        # The frame-number bands change wholesale every 32 pictures, which libvpx takes for scene
        # cuts and answers with extra keyframes unless it has no look-ahead.
        ff $(video_in 25 8) $(tone_in 8) -vf "$vf,format=yuv420p" \
            -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 300k -g 25 -keyint_min 25 -lag-in-frames 0 \
            -c:a libopus -b:a 64k -ac 2 -ar 48000 -f matroska "$tmp" ;;
    h264_long.mp4)
        ff $(video_in 25 40) $(tone_in 40) -vf "$vf" $(x264_gop 25) $x264_bframes $aac_stereo \
            -movflags +faststart -f mp4 "$tmp" ;;
    h264_noaudio.mp4)
        ff $(video_in 25 8) -vf "$vf" $(x264_gop 25) $x264_bframes -an \
            -movflags +faststart -f mp4 "$tmp" ;;
    audio_only.m4a)
        ff $(tone_in 8) -vn $aac_stereo -movflags +faststart -f ipod "$tmp" ;;
    surround51.mp4)
        # The tone is in the centre channel only: a player that keeps just the first two channels
        # instead of downmixing plays silence.
        ff $(video_in 25 8) $(tone_in 8 centre) -vf "$vf" $(x264_gop 25) $x264_bframes \
            -c:a aac -b:a 192k -ar 48000 \
            -movflags +faststart -f mp4 "$tmp" ;;
    odd_321x241.mkv)
        # libx264 refuses odd sizes in 4:2:0; MPEG-4 Visual (mpeg4) takes them. The picture is made
        # at its odd size directly, since crop would round it to an even one. Scene-change
        # keyframes off, as the bands look like a cut every 32 pictures.
        ff $(video_in 25 8) $(tone_in 8) -vf "$(framenumber_filter 321 241),format=yuv420p" \
            -c:v mpeg4 -q:v 3 -g 25 -bf 0 -sc_threshold 1000000000 $aac_stereo -f matroska "$tmp" ;;
    subtitles.mkv)
        local srt="$tmp.srt"
        cat >"$srt" <<'EOF'
1
00:00:00,000 --> 00:00:02,000
First cue

2
00:00:02,000 --> 00:00:04,000
Second cue

3
00:00:04,000 --> 00:00:06,000
Third cue

4
00:00:06,000 --> 00:00:08,000
Fourth cue
EOF
        ff $(video_in 25 8) $(tone_in 8) -i "$srt" -map 0:v -map 1:a -map 2:s \
            -vf "$vf" $(x264_gop 25) $x264_bframes $aac_stereo -c:s srt -f matroska "$tmp"
        rm -f "$srt" ;;
    ts_offset10.ts)
        ff $(video_in 25 8) $(tone_in 8) -vf "$vf" $(x264_gop 25) $x264_bframes $aac_stereo \
            -output_ts_offset 10 -f mpegts "$tmp" ;;
    h264_60fps.mp4)
        ff $(video_in 60 4) $(tone_in 4) -vf "$vf" $(x264_gop 60) $x264_bframes $aac_stereo \
            -movflags +faststart -f mp4 "$tmp" ;;
    vfr.mkv)
        # Gaps alternate 40 ms and 80 ms: frame N shows at floor(N/2)*120 ms + (N mod 2)*40 ms.
        # 100 pictures span 6 s. The numbers are drawn before the time stamps are rewritten, and the
        # stamps are whole milliseconds so no rounding of a fractional expression can merge two.
        ff $(video_in 25 4) $(tone_in 6) \
            -vf "$vf,settb=1/1000,setpts='floor(N/2)*120+mod(N\,2)*40'" -frames:v 100 \
            -fps_mode passthrough -enc_time_base 1/1000 $(x264_gop 25) $aac_stereo \
            -f matroska "$tmp" ;;
    shifted_setts.mkv)
        # The video's time stamps about half a second later than its pictures (the sound stays): every
        # picture claims a time that is not its own.
        ff $(video_in 25 8) $(tone_in 8) -vf "$vf" $(x264_gop 25) $aac_stereo -f mp4 "$tmp.mp4"
        ff -i "$tmp.mp4" -c copy -bsf:v "setts=ts=TS+12*DURATION" -f matroska "$tmp"
        rm -f "$tmp.mp4" ;;
    no_decoder.mkv)
        # An H.264 clip whose codec ID is renamed to one that libavformat does not know: the video
        # stream then has no decoder while the audio stays playable.
        ff $(video_in 25 8) $(tone_in 8) -vf "$vf" $(x264_gop 25) $aac_stereo \
            -f matroska "$tmp"
        python3 - "$tmp" <<'EOF'
import sys
path = sys.argv[1]
data = open(path, 'rb').read()
old, new = b'V_MPEG4/ISO/AVC', b'V_MPEG4/ISO/XVC'
if data.count(old) != 1:
    sys.exit('expected exactly one %r in %s' % (old, path))
open(path, 'wb').write(data.replace(old, new))
EOF
        ;;
    # Sound that does not cover the picture: the clock has to be carried by the pictures.
    sound_late.mp4)
        # The sound's first block is stamped 2 s (an empty edit), not 2 s of silence.
        ff $(video_in 25 6) -itsoffset 2 $(tone_in 4) -vf "$vf" $(x264_gop 25) $x264_bframes $aac_stereo \
            -movflags +faststart -f mp4 "$tmp" ;;
    sound_short60.ts)
        ff $(video_in 60 5) $(tone_in 2) -vf "$vf" $(x264_gop 60) $x264_bframes $aac_stereo -f mpegts "$tmp" ;;
    sound_hole.mkv)
        # No sound packets at all from 2 s to 4 s.
        ff $(video_in 25 6) $(tone_in 6) -vf "$vf" -af "aselect='not(between(t\,2\,4))'" $(x264_gop 25) \
            $x264_bframes -c:a libopus -b:a 64k -ac 2 -ar 48000 -f matroska "$tmp" ;;
    sound_coarse.mp4)
        # Fragments of 2 s hold all their pictures before their sound: the demuxer reads a second
        # (60 pictures) ahead of the sound.
        ff $(video_in 60 4) $(tone_in 4) -vf "$vf" $(x264_gop 120) $x264_bframes $aac_stereo \
            -movflags +frag_keyframe+empty_moov -f mp4 "$tmp" ;;
    mpeg2_gop12.mpg)
        ff $(video_in 25 6) $(tone_in 6) -vf "$vf,format=yuv420p" \
            -c:v mpeg2video -q:v 4 -g 12 -bf 2 -flags +cgop -sc_threshold 1000000000 \
            -c:a mp2 -b:a 192k -ac 2 -ar 48000 -f vob "$tmp" ;;
    no_audio_decoder.mkv)
        # The AAC track's codec ID renamed to one that libavformat does not know.
        ff $(video_in 25 8) $(tone_in 8) -vf "$vf" $(x264_gop 25) -bf 0 $aac_stereo -f matroska "$tmp"
        python3 -c "import sys; p = sys.argv[1]; d = open(p, 'rb').read(); assert d.count(b'A_AAC') == 1
open(p, 'wb').write(d.replace(b'A_AAC', b'A_XXX'))" "$tmp" ;;
    # One colour, (32,192,64) before encoding, converted with the matrix and range the clip is
    # tagged with; the tests compare the screen with ffmpeg's own conversion of the decoded frame.
    colour_bt601_576.mkv)
        ff -f lavfi -i color=c=0x20C040:s=720x576:r=25:d=1 \
            -vf "scale=out_color_matrix=bt601:out_range=tv,format=yuv420p" -colorspace bt470bg -color_range tv \
            $(x264_gop 25) -f matroska "$tmp" ;;
    colour_bt709_720.mkv)
        ff -f lavfi -i color=c=0x20C040:s=1280x720:r=25:d=1 \
            -vf "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p" -colorspace bt709 -color_range tv \
            $(x264_gop 25) -f matroska "$tmp" ;;
    colour_full_480.mkv)
        ff -f lavfi -i color=c=0x20C040:s=640x480:r=25:d=1 \
            -vf "scale=out_color_matrix=bt601:out_range=pc,format=yuvj420p" -colorspace smpte170m -color_range pc \
            -c:v libx264 -preset veryfast -pix_fmt yuvj420p -f matroska "$tmp" ;;
    # Frame numbers in the sampling and depths that the engine converts to 8-bit 4:2:0.
    bands_422.mkv | bands_444.mkv | bands_10bit.mkv)
        local format=yuv422p
        [[ $name == bands_444.mkv ]] && format=yuv444p
        [[ $name == bands_10bit.mkv ]] && format=yuv420p10le
        ff $(video_in 25 1) -vf "$vf,format=$format" -c:v libx264 -preset veryfast -pix_fmt $format \
            -f matroska "$tmp" ;;
    square_64x45.mkv)
        # 720x576 at a sample aspect of 64:45 (a 16:9 picture): the white box, 141 x 200 stored
        # pixels, is square on a screen that honours the aspect.
        ff -f lavfi -i color=c=black:s=720x576:r=25:d=1 \
            -vf "drawbox=x=290:y=188:w=141:h=200:color=white:t=fill,setsar=64/45,format=yuv420p" \
            $(x264_gop 25) -f matroska "$tmp" ;;
    redblue_321x241.mkv)
        # Red left of column 160, blue from it: chroma planes 161 samples wide, rows of odd length.
        ff -f lavfi -i color=c=blue:s=2x2:r=25:d=1 \
            -vf "format=rgb24,scale=321:241:flags=neighbor,drawbox=x=0:y=0:w=160:h=241:color=red:t=fill,setsar=1,format=yuv420p" \
            -c:v mpeg4 -q:v 2 -f matroska "$tmp" ;;
    *)
        echo "make_clips.sh: unknown clip $name" >&2
        return 1 ;;
    esac
}

if [[ ${1:-} == --one ]]; then
    out=$2 name=$3
    # Hidden and marked partial until complete; helper files share the prefix so that the next
    # run's clean-up finds them after an interrupted one.
    tmp="$out/.partial-$$-$name"
    trap 'rm -f "$tmp" "$tmp".*' EXIT
    started=$SECONDS
    make_one "$name" "$tmp"
    mv -f "$tmp" "$out/$name"
    echo "make_clips.sh: $name ($((SECONDS - started)) s)"
    exit 0
fi

if [[ $# -ne 1 ]]; then
    echo "usage: make_clips.sh OUTDIR" >&2
    exit 2
fi
out=$1
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/corpus.stamp" "$out"/.partial-*

# Two encodes at a time (two cores); longest first so the tail is short.
started=$SECONDS
printf '%s\n' "${clips[@]}" | xargs -P 2 -I{} bash "$here/make_clips.sh" --one "$out" {}
echo "make_clips.sh: corpus done in $((SECONDS - started)) s"
touch "$out/corpus.stamp"
