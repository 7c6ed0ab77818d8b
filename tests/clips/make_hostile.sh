#!/usr/bin/env bash
# Generates the hostile corpus: the files users really have besides good clips. Truncated
# downloads, broken captures, random bytes under a video name, streams that change their picture
# size, headers that declare absurd picture sizes, files without a playable video stream, data and
# attachment streams, and an MPEG program stream whose packets carry no time stamps.
#   make_hostile.sh OUTDIR CORPUSDIR   -> every file into OUTDIR, then OUTDIR/hostile.stamp
#
# CORPUSDIR is the generated clip corpus (make_clips.sh). Everything random is seeded from the file
# name and Matroska is written bit-exact, so every run produces the same bytes from the same
# corpus. Files are made in a temporary folder and moved into place when all are complete; the
# stamp is touched last.
set -euo pipefail

[[ $# -eq 2 ]] || { echo "usage: make_hostile.sh OUTDIR CORPUSDIR" >&2; exit 2; }
out=$1
c=$(cd "$2" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/hostile.stamp"
w=$(mktemp -d "$out/.partial-XXXXXX")
trap 'rm -rf "$w"' EXIT
started=$SECONDS

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# Byte surgery: every operation takes its output path (and mostly its input) first.
tool() {
    python3 - "$@" <<'EOF'
import random, re, sys, zlib

def seeded(name):   # stable across runs (str hashing is salted per process)
    return random.Random(zlib.crc32(name.rsplit('/', 1)[-1].encode()))

def read(path): return open(path, 'rb').read()
def write(path, data): open(path, 'wb').write(data)
def cut(src, dst, percent): write(dst, read(src)[:len(read(src)) * int(percent) // 100])

def flip(src, dst, count, start_percent):
    # Bytes from start_percent of the file on, at seeded positions, each given another value.
    data, rng = bytearray(read(src)), seeded(dst)
    for _ in range(int(count)):
        data[rng.randrange(len(data) * int(start_percent) // 100, len(data))] ^= rng.randrange(1, 256)
    write(dst, data)

def noise(dst, size, prefix_src='', prefix_len='0'):
    head = read(prefix_src)[:int(prefix_len)] if prefix_src else b''
    count = int(size) - len(head)
    write(dst, head + seeded(dst).getrandbits(8 * count).to_bytes(count, 'little'))

def replace(src, dst, *pairs):
    # Same-length replacements of byte strings given in hex, each of which must occur exactly once.
    data = read(src)
    for old, new in zip(map(bytes.fromhex, pairs[::2]), map(bytes.fromhex, pairs[1::2])):
        assert len(old) == len(new) and data.count(old) == 1, (src, old.hex())
        data = data.replace(old, new)
    write(dst, data)

def strip_timestamps(src, dst):
    # Clears the PTS/DTS flags of every MPEG-2 PES header of the audio and video streams; the
    # header length stays, so the stamps' bytes are skipped as stuffing.
    data, cleared = bytearray(read(src)), 0
    i = data.find(b'\x00\x00\x01')
    while 0 <= i < len(data) - 9:
        sid = data[i + 3]
        if ((sid & 0xE0) == 0xC0 or (sid & 0xF0) == 0xE0) and (data[i + 6] & 0xC0) == 0x80 and data[i + 7] & 0xC0:
            data[i + 7] &= 0x3F
            cleared += 1
        i = data.find(b'\x00\x00\x01', i + 3)
    assert cleared, src
    write(dst, data)

def sps_size(src, dst, width, height):
    # Rewrites the picture size in every sequence parameter set of a baseline H.264 Annex B stream,
    # under the emulation prevention bytes (00 00 03 stands for 00 00 before any byte up to 03).
    parts = read(src).split(b'\x00\x00\x01')
    code = lambda v: format(v + 1, 'b').rjust(2 * len(format(v + 1, 'b')) - 1, '0')   # ue(v)
    for n, part in enumerate(parts):
        if not part or (part[0] & 0x1f) != 7:
            continue
        body = part.rstrip(b'\x00')   # a trailing zero belongs to the next 4-byte start code
        bits = ''.join(format(x, '08b') for x in re.sub(b'\x00\x00\x03', b'\x00\x00', body[1:]))
        assert bits[:8] == format(66, '08b'), 'baseline only: no chroma fields'
        pos = 24   # after profile, constraint flags and level
        def ue():
            nonlocal pos
            zeros = bits.index('1', pos) - pos
            pos += 2 * zeros + 1
            return int(bits[pos - zeros - 1:pos], 2) - 1
        ue(); ue()   # parameter set id, frame number bits
        poc = ue()
        assert poc != 1, 'picture order type 1 is not handled'
        if poc == 0:
            ue()
        ue(); pos += 1   # reference frames, gaps allowed
        start = pos
        ue(); ue()
        rest = bits[pos:].rstrip('0')[:-1]   # without the stop bit and its padding
        new = bits[:start] + code(int(width) // 16 - 1) + code(int(height) // 16 - 1) + rest + '1'
        new += '0' * (-len(new) % 8)
        rbsp = bytes(int(new[i:i + 8], 2) for i in range(0, len(new), 8))
        parts[n] = body[:1] + re.sub(b'\x00\x00(?=[\x00-\x03])', b'\x00\x00\x03', rbsp) + part[len(body):]
    write(dst, b'\x00\x00\x01'.join(parts))

globals()[sys.argv[1]](*sys.argv[2:])
EOF
}

# A part of a resolution-changing MPEG-TS: SIZE OFFSET OUT.
part() {
    ff -f lavfi -i "testsrc=s=$1:r=25:d=2" -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=2" \
        -pix_fmt yuv420p -c:v libx264 -preset ultrafast -g 25 -c:a aac -b:a 64k -output_ts_offset "$2" -f mpegts "$3"
}

cd "$w"
mkdir tmp
# Truncated downloads and captures: every corpus clip cut at 10, 50 and 90 % of its bytes.
for clip in "$c"/*.*; do
    name=$(basename "$clip")
    [[ $name == corpus.stamp ]] && continue
    for p in 10 50 90; do
        tool cut "$clip" "${name%.*}.cut$p.${name##*.}" $p
    done
done
# Broken captures: bytes changed in the payload (from 10 % of the file on), lightly and heavily.
for clip in h264_aac.mp4 h264_nobframes.mkv mpeg2_mp2.mpg vp9_opus.mkv ts_offset10.ts odd_321x241.mkv surround51.mp4 vfr.mkv; do
    for n in 40 2000; do
        tool flip "$c/$clip" "${clip%.*}.flip$n.${clip##*.}" $n 10
    done
done

# The rest, one recipe a line; tmp/ holds what only the recipes below it need.
while read -r recipe; do
    [[ -z $recipe || $recipe == \#* ]] || eval "$recipe"
done <<'TABLE'
tool flip "$c/h264_long.mp4" h264_long.flip5000.mp4 5000 10
# Bytes changed in the headers too.
tool flip "$c/h264_aac.mp4" h264_aac.header.mp4 12 0
tool flip "$c/h264_nobframes.mkv" h264_nobframes.header.mkv 12 0
# Nothing, or noise, under a video file's name; a real container header followed by noise.
: >empty.mp4
: >empty.mkv
tool noise one_byte.mkv 1
tool noise random.mp4 262144
tool noise random.mkv 262144
tool noise random.ts 262144
tool noise random_after_header.mp4 262144 "$c/h264_aac.mp4" 40
tool noise random_after_header.mkv 262144 "$c/h264_nobframes.mkv" 64
# A download that stopped before the index: an MP4 with its index at the end, cut at 90 %.
ff -i "$c/h264_aac.mp4" -c copy -f mp4 tmp/index_at_end.mp4
tool cut tmp/index_at_end.mp4 index_at_end.cut90.mp4 90
# Two encodes of different sizes joined in one MPEG-TS (the second continues the time line).
part 320x240 0 tmp/small_first.ts
part 640x480 2 tmp/large_second.ts
part 640x480 0 tmp/large_first.ts
part 320x240 2 tmp/small_second.ts
cat tmp/small_first.ts tmp/large_second.ts >resize_up.ts
cat tmp/large_first.ts tmp/small_second.ts >resize_down.ts
# Absurd picture sizes. H.264 parameter sets saying 16000 x 16000 (FFmpeg accepts that size and
# would allocate for it) and 32768 x 32768 (FFmpeg refuses it itself).
ff -f lavfi -i "testsrc=s=320x240:r=25:d=2" -pix_fmt yuv420p -c:v libx264 -preset ultrafast -profile:v baseline -g 25 -f h264 tmp/baseline.h264
tool sps_size tmp/baseline.h264 sps_16000x16000.h264 16000 16000
tool sps_size tmp/baseline.h264 sps_32768x32768.h264 32768 32768
# The 16000 x 16000 stream as the second half of an MPEG-TS that starts at 320 x 240; the ffmpeg
# tool must not decode the large pictures while it remuxes (and reports each it refuses).
ff -loglevel fatal -max_pixels 1000000 -r 25 -i sps_16000x16000.h264 -c copy -output_ts_offset 2 -f mpegts tmp/huge_second.ts
cat tmp/small_first.ts tmp/huge_second.ts >resize_to_16000x16000.ts
# Matroska headers (PixelWidth B0, PixelHeight BA, two bytes each): 16000 x 16000 for raw pictures
# (the container's size is all there is), 16000 wide for H.264 (the stream's own size wins).
ff -f lavfi -i "testsrc=s=256x256:r=10:d=1" -pix_fmt yuv420p -c:v rawvideo -fflags +bitexact -f matroska tmp/raw256.mkv
tool replace tmp/raw256.mkv rawvideo_16000x16000.mkv b0820100 b0823e80 ba820100 ba823e80
tool replace "$c/h264_nobframes.mkv" h264_declared_16000_wide.mkv b0820140 b0823e80
# No playable video: sound only, a video codec without a decoder, a sound codec without one.
ff -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=2" -c:a libmp3lame -b:a 64k -f mp3 audio_only.mp3
cp "$c/no_decoder.mkv" video_no_decoder.mkv
tool replace "$c/h264_nobframes.mkv" audio_no_decoder.mkv 415f414143 415f584143
# Streams besides sound and picture: an attachment in Matroska, a time code track in MP4, a data
# stream (listed first) in MPEG-TS.
tool noise tmp/blob.bin 3000
ff -i "$c/h264_aac.mp4" -attach tmp/blob.bin -metadata:s:t mimetype=application/octet-stream -metadata:s:t filename=blob.bin -c copy -fflags +bitexact -f matroska attachment.mkv
ff -i "$c/h264_aac.mp4" -map 0 -c copy -timecode 01:00:00:00 -f mp4 timecode_track.mp4
tool noise tmp/klv.bin 20000
ff -i "$c/h264_aac.mp4" -f data -i tmp/klv.bin -map 1 -map 0 -c copy -f mpegts data_stream.ts
# An MPEG program stream whose packets carry no time stamps at all.
tool strip_timestamps "$c/mpeg2_mp2.mpg" no_timestamps.mpg
TABLE

# Replace the previous set as a whole.
rm -rf tmp
find "$out" -maxdepth 1 -type f -delete
mv "$w"/* "$out"/
echo "make_hostile.sh: $(find "$out" -maxdepth 1 -type f | wc -l) files in $((SECONDS - started)) s"
touch "$out/hostile.stamp"
