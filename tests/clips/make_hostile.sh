#!/usr/bin/env bash
# Generates the hostile corpus: the files users really have besides good clips. Truncated
# downloads, broken captures, random bytes under a video name, streams that change their picture
# size, headers that declare absurd picture sizes, files without a playable video stream, data and
# attachment streams, and an MPEG program stream whose packets carry no time stamps.
#   make_hostile.sh OUTDIR CORPUSDIR   -> every file into OUTDIR, then OUTDIR/hostile.stamp
#
# CORPUSDIR is the generated clip corpus (make_clips.sh). Everything random is seeded from the file
# name and Matroska is written bit-exact (no random identifiers), so every run produces the same
# bytes from the same corpus. Files are written under a temporary folder and moved
# into place when all are complete; the stamp is touched last.
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: make_hostile.sh OUTDIR CORPUSDIR" >&2
    exit 2
fi
out=$1
corpus=$(cd "$2" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/hostile.stamp"
work=$(mktemp -d "$out/.partial-XXXXXX")
trap 'rm -rf "$work"' EXIT
started=$SECONDS

ff() {
    ffmpeg -nostdin -hide_banner -loglevel error -y "$@"
}

# Byte surgery in one place: every operation takes its input and output path first.
tool() {
    python3 - "$@" <<'EOF'
import random, re, sys, zlib

def seeded(name):
    # Stable across runs and Python versions (str hashing is salted per process).
    return random.Random(zlib.crc32(name.encode()))

def read(path):
    with open(path, 'rb') as f:
        return f.read()

def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)

def cut(src, dst, percent):
    data = read(src)
    write(dst, data[:len(data) * int(percent) // 100])

def flip(src, dst, count, start_percent):
    # Bytes replaced at seeded positions from start_percent of the file on; each gets a value
    # other than its own.
    data = bytearray(read(src))
    rng = seeded(dst.rsplit('/', 1)[-1])
    start = len(data) * int(start_percent) // 100
    for _ in range(int(count)):
        i = rng.randrange(start, len(data))
        data[i] ^= rng.randrange(1, 256)
    write(dst, bytes(data))

def noise(dst, size, prefix_src='', prefix_len='0'):
    rng = seeded(dst.rsplit('/', 1)[-1])
    head = read(prefix_src)[:int(prefix_len)] if prefix_src else b''
    count = int(size) - len(head)
    write(dst, head + (rng.getrandbits(8 * count).to_bytes(count, 'little') if count > 0 else b''))

def replace(src, dst, *pairs):
    # Same-length replacements of byte strings given in hex, each of which must occur exactly once.
    data = read(src)
    for i in range(0, len(pairs), 2):
        old, new = bytes.fromhex(pairs[i]), bytes.fromhex(pairs[i + 1])
        if len(old) != len(new) or data.count(old) != 1:
            sys.exit('%s: expected one %s' % (src, pairs[i]))
        data = data.replace(old, new)
    write(dst, data)

def strip_timestamps(src, dst):
    # Clears the PTS/DTS flags of every MPEG-2 PES header of the audio and video streams; the
    # header length stays, so the stamps' bytes are skipped as stuffing.
    data = bytearray(read(src))
    i = data.find(b'\x00\x00\x01')
    cleared = 0
    while 0 <= i < len(data) - 9:
        sid = data[i + 3]
        if (sid & 0xE0) == 0xC0 or (sid & 0xF0) == 0xE0:
            if (data[i + 6] & 0xC0) == 0x80 and data[i + 7] & 0xC0:
                data[i + 7] &= 0x3F
                cleared += 1
        i = data.find(b'\x00\x00\x01', i + 3)
    if cleared == 0:
        sys.exit('%s: no time stamps found' % src)
    write(dst, bytes(data))

# H.264: rewrites the picture size in every sequence parameter set of an Annex B stream.
def unescape(b):
    out, zeros = bytearray(), 0
    for x in b:
        if zeros >= 2 and x == 3:
            zeros = 0
            continue
        out.append(x)
        zeros = zeros + 1 if x == 0 else 0
    return bytes(out)

def escape(b):
    out, zeros = bytearray(), 0
    for x in b:
        if zeros >= 2 and x <= 3:
            out.append(3)
            zeros = 0
        out.append(x)
        zeros = zeros + 1 if x == 0 else 0
    return bytes(out)

class Bits:
    def __init__(self, data):
        self.bits = ''.join(format(x, '08b') for x in data)
        self.pos = 0
    def u(self, n):
        v = int(self.bits[self.pos:self.pos + n], 2) if n else 0
        self.pos += n
        return v
    def ue(self):
        zeros = 0
        while self.bits[self.pos] == '0':
            zeros += 1
            self.pos += 1
        self.pos += 1
        return (1 << zeros) - 1 + self.u(zeros)
    def se(self):
        k = self.ue()
        return (k + 1) // 2 if k & 1 else -(k // 2)

def ue_bits(v):
    b = format(v + 1, 'b')
    return '0' * (len(b) - 1) + b

def sps_with_size(rbsp, width, height):
    r = Bits(rbsp)
    profile = r.u(8); r.u(8); r.u(8); r.ue()
    if profile in (100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135):
        if r.ue() == 3:
            r.u(1)
        r.ue(); r.ue(); r.u(1)
        if r.u(1):
            sys.exit('scaling matrices are not handled')
    r.ue()
    poc = r.ue()
    if poc == 0:
        r.ue()
    elif poc == 1:
        r.u(1); r.se(); r.se()
        for _ in range(r.ue()):
            r.se()
    r.ue(); r.u(1)
    start = r.pos
    r.ue(); r.ue()
    rest = r.bits[r.pos:].rstrip('0')[:-1]   # without the stop bit and its padding
    bits = r.bits[:start] + ue_bits(width // 16 - 1) + ue_bits(height // 16 - 1) + rest + '1'
    bits += '0' * (-len(bits) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))

def sps_size(src, dst, width, height):
    parts = read(src).split(b'\x00\x00\x01')
    patched = 0
    for n, p in enumerate(parts):
        if p and (p[0] & 0x1f) == 7:
            body = p.rstrip(b'\x00')   # a trailing zero belongs to the next 4-byte start code
            trail = p[len(body):]
            parts[n] = body[:1] + escape(sps_with_size(unescape(body[1:]), int(width), int(height))) + trail
            patched += 1
    if patched == 0:
        sys.exit('%s: no sequence parameter set' % src)
    write(dst, b'\x00\x00\x01'.join(parts))

op = sys.argv[1]
globals()[op](*sys.argv[2:])
EOF
}

w=$work

# Truncated downloads and captures: every corpus clip cut at 10, 50 and 90 % of its bytes.
for clip in "$corpus"/*; do
    name=$(basename "$clip")
    [[ $name == corpus.stamp || $name == .* ]] && continue
    # The picture path's clips (one colour, bands in other samplings, shapes) are about drawing.
    case $name in colour_* | bands_* | square_* | redblue_*) continue ;; esac
    stem=${name%.*} ext=${name##*.}
    for p in 10 50 90; do
        tool cut "$clip" "$w/$stem.cut$p.$ext" $p
    done
done

# Nothing, or noise, under a video file's name.
: >"$w/empty.mp4"
: >"$w/empty.mkv"
tool noise "$w/one_byte.mkv" 1
tool noise "$w/random.mp4" 262144
tool noise "$w/random.mkv" 262144
tool noise "$w/random.ts" 262144
# A real container header followed by noise: the demuxer gets past its probe.
tool noise "$w/random_after_header.mp4" 262144 "$corpus/h264_aac.mp4" 40
tool noise "$w/random_after_header.mkv" 262144 "$corpus/h264_nobframes.mkv" 64

# Broken captures: bytes changed in the payload (from 10 % of the file on), lightly and heavily,
# and a few in the headers.
for clip in h264_aac.mp4 h264_nobframes.mkv mpeg2_mp2.mpg vp9_opus.mkv ts_offset10.ts odd_321x241.mkv \
            surround51.mp4 vfr.mkv; do
    stem=${clip%.*} ext=${clip##*.}
    tool flip "$corpus/$clip" "$w/$stem.flip40.$ext" 40 10
    tool flip "$corpus/$clip" "$w/$stem.flip2000.$ext" 2000 10
done
tool flip "$corpus/h264_long.mp4" "$w/h264_long.flip5000.mp4" 5000 10
tool flip "$corpus/h264_aac.mp4" "$w/h264_aac.header.mp4" 12 0
tool flip "$corpus/h264_nobframes.mkv" "$w/h264_nobframes.header.mkv" 12 0

# A download that stopped before the index: an MP4 with its index at the end, cut at 90 %.
ff -i "$corpus/h264_aac.mp4" -c copy -f mp4 "$w/index_at_end.mp4"
tool cut "$w/index_at_end.mp4" "$w/index_at_end.cut90.mp4" 90
rm -f "$w/index_at_end.mp4"

# Two encodes of different sizes joined in one MPEG-TS (the second continues the time line), in
# both directions.
part() { # SIZE OFFSET OUT
    ff -f lavfi -i "testsrc=s=$1:r=25:d=2" -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=2" \
        -pix_fmt yuv420p -c:v libx264 -preset ultrafast -g 25 -c:a aac -b:a 64k \
        -output_ts_offset "$2" -f mpegts "$3"
}
part 320x240 0 "$w/small_first.ts"
part 640x480 2 "$w/large_second.ts"
part 640x480 0 "$w/large_first.ts"
part 320x240 2 "$w/small_second.ts"
cat "$w/small_first.ts" "$w/large_second.ts" >"$w/resize_up.ts"
cat "$w/large_first.ts" "$w/small_second.ts" >"$w/resize_down.ts"

# Absurd picture sizes. An H.264 stream whose parameter sets say 16000 x 16000 (FFmpeg accepts
# that size and would allocate for it) and 32768 x 32768 (FFmpeg refuses it itself); the same
# 16000 x 16000 stream as the second half of an MPEG-TS that starts at 320 x 240; a Matroska file
# whose header says 16000 x 16000 for raw pictures (the container's size is all there is); and one
# whose header says 16000 wide for H.264 (the stream's own size wins).
ff -f lavfi -i "testsrc=s=320x240:r=25:d=2" -pix_fmt yuv420p -c:v libx264 -preset ultrafast \
    -profile:v baseline -g 25 -f h264 "$w/baseline.h264"
tool sps_size "$w/baseline.h264" "$w/sps_16000x16000.h264" 16000 16000
tool sps_size "$w/baseline.h264" "$w/sps_32768x32768.h264" 32768 32768
# The ffmpeg tool itself must not decode the large pictures while it remuxes.
# (It still reports every picture it refuses: only fatal messages are shown.)
ff -loglevel fatal -max_pixels 1000000 -r 25 -i "$w/sps_16000x16000.h264" -c copy -output_ts_offset 2 \
    -f mpegts "$w/huge_second.ts"
cat "$w/small_first.ts" "$w/huge_second.ts" >"$w/resize_to_16000x16000.ts"
ff -f lavfi -i "testsrc=s=256x256:r=10:d=1" -pix_fmt yuv420p -c:v rawvideo -fflags +bitexact -f matroska "$w/raw256.mkv"
# PixelWidth (B0) and PixelHeight (BA), two bytes each: 256 -> 16000 (0x3E80).
tool replace "$w/raw256.mkv" "$w/rawvideo_16000x16000.mkv" b0820100 b0823e80 ba820100 ba823e80
tool replace "$corpus/h264_nobframes.mkv" "$w/h264_declared_16000_wide.mkv" b0820140 b0823e80
rm -f "$w"/small_first.ts "$w"/large_second.ts "$w"/large_first.ts "$w"/small_second.ts \
    "$w"/huge_second.ts "$w"/baseline.h264 "$w"/raw256.mkv

# No playable video: sound only, a video codec without a decoder, a sound codec without one.
ff -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=2" -c:a libmp3lame -b:a 64k -f mp3 "$w/audio_only.mp3"
cp "$corpus/no_decoder.mkv" "$w/video_no_decoder.mkv"
tool replace "$corpus/h264_nobframes.mkv" "$w/audio_no_decoder.mkv" 415f414143 415f584143   # A_AAC -> A_XAC

# Streams besides sound and picture: an attachment in Matroska, a time code track in MP4, a data
# stream (listed first) in MPEG-TS.
tool noise "$w/blob.bin" 3000
ff -i "$corpus/h264_aac.mp4" -attach "$w/blob.bin" -metadata:s:t mimetype=application/octet-stream \
    -metadata:s:t filename=blob.bin -c copy -fflags +bitexact -f matroska "$w/attachment.mkv"
ff -i "$corpus/h264_aac.mp4" -map 0 -c copy -timecode 01:00:00:00 -f mp4 "$w/timecode_track.mp4"
tool noise "$w/klv.bin" 20000
ff -i "$corpus/h264_aac.mp4" -f data -i "$w/klv.bin" -map 1 -map 0 -c copy -f mpegts "$w/data_stream.ts"
rm -f "$w/blob.bin" "$w/klv.bin"

# An MPEG program stream whose packets carry no time stamps at all.
tool strip_timestamps "$corpus/mpeg2_mp2.mpg" "$w/no_timestamps.mpg"

# Replace the previous set as a whole.
find "$out" -maxdepth 1 -type f -delete
mv "$w"/* "$out"/
echo "make_hostile.sh: $(find "$out" -maxdepth 1 -type f | wc -l) files in $((SECONDS - started)) s"
touch "$out/hostile.stamp"
