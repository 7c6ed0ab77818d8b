#include "corpusmaker.h"

#include "engine/ffmpegptr.h"
#include "engine/streamdecoder.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstring>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kBits = 12;
// Where the MPEG-TS case's 33-bit stamps wrap: this far into the clip.
constexpr int64_t kWrapAfterSeconds = 3;
// The MP4 cases: the pictures hidden before the start, and the empty edit before the first picture.
constexpr int kHiddenPictures = 15;
constexpr int kLateStartPictures = 12;

using Stamps = CorpusMaker::Case::Stamps;

// Picture n in the encoder's time base.
int64_t stampOf(const CorpusMaker::Case &c, int n)
{
    switch (c.stamps) {
    case Stamps::Variable: return int64_t(n / 2) * 120 + (n % 2) * 40;   // ms: 40 then 80 ms apart
    case Stamps::Wrapping: return (int64_t(1) << 33) - kWrapAfterSeconds * 90000 + int64_t(n) * 90000 / c.rate;
    case Stamps::Negative: return n - kHiddenPictures;
    case Stamps::LateStart: return n + kLateStartPictures;
    case Stamps::Regular: break;
    }
    return n;
}

AVRational timeBaseOf(const CorpusMaker::Case &c)
{
    return c.stamps == Stamps::Variable ? AVRational{1, 1000} : c.stamps == Stamps::Wrapping ? AVRational{1, 90000} : AVRational{1, c.rate};
}

void drawNumber(AVFrame *frame, int n)
{
    for (int y = 0; y < frame->height; ++y)
        for (int x = 0; x < frame->width; ++x)
            frame->data[0][y * frame->linesize[0] + x] = (n >> (x * kBits / frame->width)) & 1 ? 235 : 96;
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < frame->height / 2; ++y)
            std::memset(frame->data[plane] + y * frame->linesize[plane], 128, frame->width / 2);
}

struct Muxed {
    int packets = 0;
    int keyPackets = 0;
    double firstStamp = 0.0;   // the first picture's presentation time, seconds
    bool first = true;
};

bool writePackets(AVCodecContext *encoder, AVFormatContext *output, AVStream *stream, AVPacket *packet, Muxed &muxed,
                  QString &error)
{
    for (;;) {
        const int got = avcodec_receive_packet(encoder, packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return true;
        if (got < 0) {
            error = QStringLiteral("the encoder failed: %1").arg(StreamDecoder::ffmpegError(got));
            return false;
        }
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        ++muxed.packets;
        muxed.keyPackets += (packet->flags & AV_PKT_FLAG_KEY) != 0;
        const double pts = packet->pts * av_q2d(stream->time_base);
        if (muxed.first || pts < muxed.firstStamp)
            muxed.firstStamp = pts;
        muxed.first = false;
        const int written = av_interleaved_write_frame(output, packet);
        if (written < 0) {
            error = QStringLiteral("the muxer failed: %1").arg(StreamDecoder::ffmpegError(written));
            return false;
        }
    }
}

bool makeClip(const CorpusMaker::Case &c, const QString &path, Muxed &muxed, QString &error)
{
    AVFormatContext *rawOutput = nullptr;
    const QByteArray file = QFile::encodeName(path);
    if (avformat_alloc_output_context2(&rawOutput, nullptr, c.format, file.constData()) < 0) {
        error = QStringLiteral("no muxer %1").arg(QLatin1String(c.format));
        return false;
    }
    OutputContextPtr output(rawOutput);
    const AVCodec *codec = avcodec_find_encoder_by_name(c.encoder);
    if (!codec) {
        error = QStringLiteral("no encoder %1 in this libavcodec").arg(QLatin1String(c.encoder));
        return false;
    }
    CodecContextPtr encoder(avcodec_alloc_context3(codec));
    AVStream *stream = avformat_new_stream(output.get(), nullptr);
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!encoder || !stream || !frame || !packet) {
        error = QStringLiteral("out of memory");
        return false;
    }
    encoder->width = kWidth;
    encoder->height = kHeight;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = timeBaseOf(c);
    encoder->framerate = {c.rate, 1};
    encoder->gop_size = c.keyEvery;
    encoder->keyint_min = c.keyEvery;
    encoder->max_b_frames = c.bFrames;
    encoder->thread_count = 1;   // the same bytes on every machine
    if (c.interlaced) {
        encoder->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        encoder->field_order = AV_FIELD_TT;
    }
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *rawOptions = nullptr;
    av_dict_parse_string(&rawOptions, c.options, "=", ";", 0);
    int result = avcodec_open2(encoder.get(), codec, &rawOptions);
    DictionaryPtr options(rawOptions);
    if (result < 0) {
        error = QStringLiteral("the encoder %1 does not open: %2").arg(QLatin1String(c.encoder), StreamDecoder::ffmpegError(result));
        return false;
    }
    // An option the encoder did not take would make another clip than the one described.
    if (const AVDictionaryEntry *unused = av_dict_get(options.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX)) {
        error = QStringLiteral("the encoder %1 has no option %2").arg(QLatin1String(c.encoder), QLatin1String(unused->key));
        return false;
    }
    avcodec_parameters_from_context(stream->codecpar, encoder.get());
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = encoder->framerate;
    if ((result = avio_open(&output->pb, file.constData(), AVIO_FLAG_WRITE)) < 0
        || (result = avformat_write_header(output.get(), nullptr)) < 0) {
        error = QStringLiteral("cannot write %1: %2").arg(path, StreamDecoder::ffmpegError(result));
        return false;
    }
    frame->format = encoder->pix_fmt;
    frame->width = kWidth;
    frame->height = kHeight;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        error = QStringLiteral("out of memory");
        return false;
    }
    for (int n = 0; n < c.pictures; ++n) {
        if (av_frame_make_writable(frame.get()) < 0) {
            error = QStringLiteral("out of memory");
            return false;
        }
        drawNumber(frame.get(), n);
        frame->pts = stampOf(c, n);
        frame->interlaced_frame = c.interlaced;
        frame->top_field_first = c.interlaced;
        if ((result = avcodec_send_frame(encoder.get(), frame.get())) < 0) {
            error = QStringLiteral("the encoder refused picture %1: %2").arg(n).arg(StreamDecoder::ffmpegError(result));
            return false;
        }
        if (!writePackets(encoder.get(), output.get(), stream, packet.get(), muxed, error))
            return false;
    }
    avcodec_send_frame(encoder.get(), nullptr);
    if (!writePackets(encoder.get(), output.get(), stream, packet.get(), muxed, error))
        return false;
    if ((result = av_write_trailer(output.get())) < 0) {
        error = QStringLiteral("cannot finish %1: %2").arg(path, StreamDecoder::ffmpegError(result));
        return false;
    }
    return true;
}

} // namespace

const QList<CorpusMaker::Case> &CorpusMaker::cases()
{
    // x264 and x265 with a fixed pattern (no adaptive B-frames, no scene cuts), so the keyframes
    // fall where keyEvery puts them: every 18 pictures, 0.72 s, off the whole seconds seeks ask for.
    static const QList<Case> list = {
        {"h264_open_gop.mkv", "open GOP: keyframes are recovery points, B-pictures before them in time lean on the GOP before",
         "matroska", "libx264", "preset=ultrafast;x264-params=open-gop=1:b-adapt=0:scenecut=0:bframes=3", 25, 150, 18, 3},
        {"hevc_cra.mkv", "HEVC CRA keyframes with RASL pictures that lean on the GOP before", "matroska", "libx265",
         "preset=ultrafast;x265-params=open-gop=1:b-adapt=0:scenecut=0:bframes=3:log-level=error", 25, 150, 18, 3},
        {"mp4_edit_list.mp4", "MP4 edit list: an empty edit of 0.48 s before the first picture, and B-frames", "mp4",
         "libx264", "preset=ultrafast;x264-params=b-adapt=0:scenecut=0", 25, 150, 18, 3, Stamps::LateStart},
        {"mp4_negative_ts.mp4", "MP4 whose first 15 pictures have negative time stamps, hidden by the edit list", "mp4",
         "libx264", "preset=ultrafast;x264-params=b-adapt=0:scenecut=0", 25, 150, 18, 3, Stamps::Negative},
        {"vfr.mkv", "variable frame rate: pictures 40 and 80 ms apart in turn (nominal 25 fps)", "matroska", "libx264",
         "preset=ultrafast;x264-params=b-adapt=0:scenecut=0", 25, 150, 18, 2, Stamps::Variable},
        {"h264_interlaced.mp4", "interlaced, top field first, field-coded macroblocks (x264 codes no field pictures)",
         "mp4", "libx264", "preset=ultrafast;x264-params=interlaced=1:tff=1:b-adapt=0:scenecut=0", 25, 150, 18, 2,
         Stamps::Regular, true},
        {"mkv_240fps.mkv", "Matroska at 240 fps: millisecond stamps cannot hold 4.17 ms steps", "matroska", "libx264",
         "preset=ultrafast;x264-params=b-adapt=0:scenecut=0", 240, 1440, 180, 2},
        {"ts_wrap.ts", "MPEG-TS whose 33-bit time stamps wrap 3 s into the clip", "mpegts", "libx264",
         "preset=ultrafast;x264-params=b-adapt=0:scenecut=0", 25, 150, 18, 2, Stamps::Wrapping},
        {"avi_bframes.avi", "AVI with MPEG-4 Part 2 B-frames: packets carry no presentation stamps", "avi", "mpeg4",
         "", 25, 150, 18, 2},
        {"flv_bframes.flv", "FLV with H.264 B-frames: millisecond stamps and composition offsets", "flv", "libx264",
         "preset=ultrafast;x264-params=b-adapt=0:scenecut=0", 25, 150, 18, 2},
        {"mpeg_ps.mpg", "MPEG-2 in a program stream: time stamps on few packs, GOP of 12 with B-frames", "vob",
         "mpeg2video", "", 25, 150, 12, 2},
    };
    return list;
}

bool CorpusMaker::make(const QString &folder, QTextStream &out, QTextStream &err)
{
    if (!QDir().mkpath(folder)) {
        err << "seekprobe: cannot make the folder " << folder << Qt::endl;
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    // The encoders' statistics are no news here; their errors are.
    av_log_set_level(AV_LOG_ERROR);
    const QDir dir(folder);
    QString facts = QStringLiteral("clip,case,container,codec,width,height,pictures,frame_rate,keyframe_every,b_frames,"
                                   "first_stamp_s,keyframe_packets\n");
    for (const Case &c : cases()) {
        const QString partial = dir.filePath(QStringLiteral(".partial-") + QLatin1String(c.file));
        const QString path = dir.filePath(QLatin1String(c.file));
        Muxed muxed;
        QString error;
        const bool made = makeClip(c, partial, muxed, error);
        if (!made || (QFile::remove(path), !QFile::rename(partial, path))) {
            QFile::remove(partial);
            err << "seekprobe: cannot make " << path << ": " << (made ? QStringLiteral("cannot rename it") : error) << Qt::endl;
            return false;
        }
        facts += QStringLiteral("%1,\"%2\",%3,%4,%5,%6,%7,%8,%9,")
                     .arg(QLatin1String(c.file), QLatin1String(c.hard), QLatin1String(c.format), QLatin1String(c.encoder))
                     .arg(kWidth)
                     .arg(kHeight)
                     .arg(c.pictures)
                     .arg(c.rate)
                     .arg(c.keyEvery)
               + QStringLiteral("%1,%2,%3\n").arg(c.bFrames).arg(muxed.firstStamp, 0, 'f', 3).arg(muxed.keyPackets);
        out << "seekprobe: made " << path << Qt::endl;
    }
    QFile csv(dir.filePath(QStringLiteral("corpus.csv")));
    if (!csv.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) || csv.write(facts.toUtf8()) < 0 || !csv.flush()) {
        err << "seekprobe: cannot write " << csv.fileName() << Qt::endl;
        return false;
    }
    out << "seekprobe: " << cases().size() << " clips in " << clock.elapsed() << " ms" << Qt::endl;
    return true;
}
