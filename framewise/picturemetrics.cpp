#include "picturemetrics.h"

#include "engine/pixelpacket.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/dict.h>
#include <libavutil/imgutils.h>
}

#include <QByteArray>

#include <cstring>

namespace {

QString ffmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

// "inf" for identical pictures; QByteArray reads it (and the decimal point) whatever the locale.
std::optional<double> metadataValue(const AVFrame *frame, const char *key)
{
    const AVDictionaryEntry *entry = av_dict_get(frame->metadata, key, nullptr, 0);
    if (!entry)
        return std::nullopt;
    bool ok = false;
    const double value = QByteArray(entry->value).toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

} // namespace

PictureMetrics::PictureMetrics(Kind kind)
    : m_Kind(kind)
{
}

FramePtr PictureMetrics::frame(const PixelPacket &picture)
{
    if (!picture.plane(0))
        return nullptr;
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return nullptr;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = picture.m_Width;
    frame->height = picture.m_Height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    for (int i = 0; i < 3; ++i) {
        const int rows = i == 0 ? picture.m_Height : PixelPacket::chromaHeight(picture.m_Height);
        av_image_copy_plane(frame->data[i], frame->linesize[i], picture.plane(i), picture.lineSize(i),
                            picture.lineSize(i), rows);
    }
    return frame;
}

FramePtr PictureMetrics::frame(std::shared_ptr<PixelPacket> picture)
{
    if (!picture || !picture->plane(0))
        return nullptr;
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return nullptr;
    // The buffer's free hands the picture back (and with it its pool buffer).
    auto *owner = new std::shared_ptr<PixelPacket>(picture);
    frame->buf[0] = av_buffer_create(
        picture->m_Buffer, picture->m_Size, [](void *opaque, uint8_t *) { delete static_cast<std::shared_ptr<PixelPacket> *>(opaque); },
        owner, AV_BUFFER_FLAG_READONLY);
    if (!frame->buf[0]) {
        delete owner;
        return nullptr;
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = picture->m_Width;
    frame->height = picture->m_Height;
    for (int i = 0; i < 3; ++i) {
        frame->data[i] = picture->plane(i);
        frame->linesize[i] = picture->lineSize(i);
    }
    return frame;
}

std::optional<PairScores> PictureMetrics::fail(const QString &why)
{
    m_Error = why;
    m_Graph.reset();
    return std::nullopt;
}

bool PictureMetrics::build(QSize first, QSize second)
{
    m_Graph.reset(avfilter_graph_alloc());
    m_FirstSize = first;
    m_SecondSize = second;
    if (!m_Graph)
        return false;
    auto source = [this](AVFilterContext **context, const char *name, QSize size) {
        const QByteArray args = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=1/25:pixel_aspect=1/1")
                                    .arg(size.width())
                                    .arg(size.height())
                                    .arg(int(AV_PIX_FMT_YUV420P))
                                    .toLatin1();
        return avfilter_graph_create_filter(context, avfilter_get_by_name("buffer"), name, args.constData(), nullptr,
                                            m_Graph.get())
            >= 0;
    };
    auto sink = [this](AVFilterContext **context, const char *name) {
        return avfilter_graph_create_filter(context, avfilter_get_by_name("buffersink"), name, nullptr, nullptr,
                                            m_Graph.get())
            >= 0;
    };
    const bool full = m_Kind == Kind::Full;
    if (!source(&m_First, "first", first) || !source(&m_Second, "second", second) || !sink(&m_Psnr, "psnr")
        || (full && !sink(&m_Ssim, "ssim")))
        return false;

    const QString scaled = first == second ? QString() : QStringLiteral("scale=%1:%2,").arg(first.width()).arg(first.height());
    const QString description = full
        ? QStringLiteral("[first]split[a1][a2];[second]%1split[b1][b2];[a1][b1]psnr[psnr];"
                         "[a2]extractplanes=y[ay];[b2]extractplanes=y[by];[ay][by]ssim[ssim]")
              .arg(scaled)
        : QStringLiteral("[first]extractplanes=y[ay];[second]%1extractplanes=y[by];[ay][by]psnr[psnr]").arg(scaled);

    // The open ends of the description, named as its labels: the sources' outputs and the sinks' inputs.
    auto end = [](const char *name, AVFilterContext *context, AVFilterInOut *next) {
        AVFilterInOut *e = avfilter_inout_alloc();
        if (!e)
            return next;
        e->name = av_strdup(name);
        e->filter_ctx = context;
        e->pad_idx = 0;
        e->next = next;
        return e;
    };
    AVFilterInOut *outputs = end("first", m_First, end("second", m_Second, nullptr));
    AVFilterInOut *inputs = end("psnr", m_Psnr, full ? end("ssim", m_Ssim, nullptr) : nullptr);
    const int parsed = avfilter_graph_parse_ptr(m_Graph.get(), description.toLatin1().constData(), &inputs, &outputs, nullptr);
    FilterInOutPtr leftInputs(inputs);
    FilterInOutPtr leftOutputs(outputs);
    if (parsed < 0) {
        m_Error = QStringLiteral("the metric filters cannot be set up: ") + ffmpegError(parsed);
        return false;
    }
    const int configured = avfilter_graph_config(m_Graph.get(), nullptr);
    if (configured < 0) {
        m_Error = QStringLiteral("the metric filters cannot be configured: ") + ffmpegError(configured);
        return false;
    }
    m_Pts = 0;
    return true;
}

std::optional<PairScores> PictureMetrics::measure(const PixelPacket &first, const PixelPacket &second)
{
    return measure(frame(first), frame(second));
}

std::optional<PairScores> PictureMetrics::measure(FramePtr first, FramePtr second)
{
    if (!first || !second)
        return fail(QStringLiteral("a picture has no planes"));
    const QSize firstSize(first->width, first->height);
    const QSize secondSize(second->width, second->height);
    if ((!m_Graph || firstSize != m_FirstSize || secondSize != m_SecondSize) && !build(firstSize, secondSize))
        return fail(m_Error.isEmpty() ? QStringLiteral("the metric filters cannot be set up") : m_Error);
    // Both inputs at one time stamp: the filters pair frames by time.
    first->pts = second->pts = m_Pts++;
    if (av_buffersrc_add_frame(m_First, first.get()) < 0 || av_buffersrc_add_frame(m_Second, second.get()) < 0)
        return fail(QStringLiteral("the metric filters refused a picture"));

    PairScores scores;
    FramePtr out(av_frame_alloc());
    if (!out || av_buffersink_get_frame(m_Psnr, out.get()) < 0)
        return fail(QStringLiteral("the psnr filter gave no result"));
    const std::optional<double> y = metadataValue(out.get(), "lavfi.psnr.psnr.y");
    const std::optional<double> all = metadataValue(out.get(), "lavfi.psnr.psnr_avg");
    if (!y || !all)
        return fail(QStringLiteral("the psnr filter gave no figures"));
    scores.psnrY = *y;
    if (m_Kind == Kind::LumaPsnr)
        return scores;
    scores.psnrAll = *all;
    av_frame_unref(out.get());
    if (av_buffersink_get_frame(m_Ssim, out.get()) < 0)
        return fail(QStringLiteral("the ssim filter gave no result"));
    const std::optional<double> ssim = metadataValue(out.get(), "lavfi.ssim.Y");
    if (!ssim)
        return fail(QStringLiteral("the ssim filter gave no figures"));
    scores.ssimY = *ssim;
    return scores;
}
