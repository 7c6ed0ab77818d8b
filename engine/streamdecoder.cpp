#include "streamdecoder.h"

#include "videostage.h"

#include "log/logcategory.h"

static LogCategory s_Log("decoder");

void StreamDecoder::log(int level, const QString &text, int line)
{
    s_Log.log(level, text, "./decoderagent", line);
}

QString StreamDecoder::ffmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return QString::fromUtf8(text);
}

bool StreamDecoder::openCodec(AVStream *stream, bool video, QString &error, int threads)
{
    const char *kind = video ? "video" : "audio";
    const AVCodec *decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder && stream->codecpar->codec_id == AV_CODEC_ID_NONE) {
        error = QStringLiteral("no decoder for the %1 codec: the file names a codec unknown to FFmpeg")
                    .arg(QLatin1String(kind));
        return false;
    }
    if (!decoder) {
        error = QStringLiteral("no decoder for the %1 codec %2")
                    .arg(QLatin1String(kind), QLatin1String(avcodec_get_name(stream->codecpar->codec_id)));
        return false;
    }
    CodecContextPtr context(avcodec_alloc_context3(decoder));
    m_Frame.reset(av_frame_alloc());
    if (!context || !m_Frame) {
        error = QStringLiteral("out of memory");
        return false;
    }
    if (avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) {
        error = QStringLiteral("the %1 stream's parameters are unusable").arg(QLatin1String(kind));
        return false;
    }
    context->pkt_timebase = stream->time_base;
    if (video) {
        // Frame threading delays pictures by a few packets; every picture carries its own time
        // stamp, so that does not matter.
        context->thread_count = threads > 0 ? threads : 0;
        context->thread_type = FF_THREAD_FRAME;
        context->max_pixels = VideoStage::maxPicturePixels;
    }
    const int result = avcodec_open2(context.get(), decoder, nullptr);
    if (result < 0) {
        error = QStringLiteral("the %1 decoder %2 does not open (%3)")
                    .arg(QLatin1String(kind), QLatin1String(decoder->name), ffmpegError(result));
        return false;
    }
    m_Codec = std::move(context);
    m_Stream = stream;
    return true;
}
