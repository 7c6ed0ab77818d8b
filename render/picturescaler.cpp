#include "picturescaler.h"

#include "engine/pixelpacket.h"

#include <algorithm>

namespace {

// libswscale's vector code writes whole 64-byte blocks best.
constexpr int kRowAlignment = 64;
// Shrinking averages the source pixels each output pixel covers (libswscale's "area"): no
// aliasing, and at 1080p into a 640x360 rectangle it costs half of bicubic. Enlarging is bicubic.
int scalerFlags(QSize source, QSize target)
{
    return target.width() <= source.width() && target.height() <= source.height() ? SWS_AREA : SWS_BICUBIC;
}

int coefficientsOf(ColourMatrix matrix)
{
    switch (matrix) {
    case ColourMatrix::Bt709:
        return SWS_CS_ITU709;
    case ColourMatrix::Bt2020:
        return SWS_CS_BT2020;
    case ColourMatrix::Bt601:
        break;
    }
    return SWS_CS_ITU601;
}

} // namespace

bool PictureScaler::convert(const PixelPacket &picture, QRect crop, QSize target)
{
    m_Size = QSize();
    if (!picture.plane(0) || target.isEmpty())
        return false;
    // Even left and top edges, so that the chroma planes start at the sample that covers them.
    crop = crop.intersected(QRect(0, 0, picture.m_Width, picture.m_Height));
    crop.setLeft(crop.left() & ~1);
    crop.setTop(crop.top() & ~1);
    if (crop.isEmpty())
        return false;

    const QSize source = crop.size();
    if (!m_Context || source != m_SourceSize || target != m_ContextTarget || !(picture.m_Colour == m_Colour)) {
        m_Context.reset(sws_getContext(source.width(), source.height(), AV_PIX_FMT_YUV420P, target.width(),
                                       target.height(), AV_PIX_FMT_BGRA, scalerFlags(source, target), nullptr, nullptr,
                                       nullptr));
        if (!m_Context)
            return false;
        // The picture's own matrix and range; RGB is full range.
        const int *coefficients = sws_getCoefficients(coefficientsOf(picture.m_Colour.matrix));
        sws_setColorspaceDetails(m_Context.get(), coefficients, picture.m_Colour.fullRange ? 1 : 0, coefficients, 1,
                                 0, 1 << 16, 1 << 16);
        m_SourceSize = source;
        m_ContextTarget = target;
        m_Colour = picture.m_Colour;
    }

    const int stride = (target.width() * 4 + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    const size_t bytes = size_t(stride) * size_t(target.height());
    if (bytes > m_Capacity) {
        m_Pixels.reset(static_cast<uint8_t *>(av_malloc(bytes)));
        m_Capacity = m_Pixels ? bytes : 0;
        if (!m_Pixels)
            return false;
    }
    m_Stride = stride;

    const int chromaLeft = crop.left() / 2;
    const int chromaTop = crop.top() / 2;
    const uint8_t *const planes[3] = {
        picture.plane(0) + crop.top() * picture.lineSize(0) + crop.left(),
        picture.plane(1) + chromaTop * picture.lineSize(1) + chromaLeft,
        picture.plane(2) + chromaTop * picture.lineSize(2) + chromaLeft,
    };
    const int lineSizes[3] = {picture.lineSize(0), picture.lineSize(1), picture.lineSize(2)};
    uint8_t *const out[1] = {m_Pixels.get()};
    const int outLineSizes[1] = {stride};
    if (sws_scale(m_Context.get(), planes, lineSizes, 0, source.height(), out, outLineSizes) != target.height())
        return false;
    m_Size = target;
    return true;
}
