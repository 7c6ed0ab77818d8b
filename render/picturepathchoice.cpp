#include "picturepathchoice.h"

namespace {

QString named(const QByteArray &renderer)
{
    return renderer.isEmpty() ? QStringLiteral("an unnamed GL renderer") : QString::fromLatin1(renderer);
}

} // namespace

bool PicturePathChoice::isSoftwareRenderer(const QByteArray &renderer)
{
    // Mesa's three (llvmpipe, softpipe, the classic swrast, which calls itself "Software
    // Rasterizer"), Windows' own GL 1.1 ("GDI Generic") and Direct3D's WARP behind Mesa's D3D12
    // driver ("Microsoft Basic Render Driver").
    static const char *const kSoftware[] = {"llvmpipe", "softpipe", "swrast", "software rasterizer",
                                            "gdi generic", "basic render driver"};
    const QByteArray name = renderer.toLower();
    for (const char *software : kSoftware) {
        if (name.contains(software))
            return true;
    }
    return false;
}

PicturePathChoice PicturePathChoice::choose(const QByteArray &renderer, const QByteArray &forced, View view,
                                            bool canBlit)
{
    PicturePathChoice choice;
    if (view == View::ShaderOnly) {
        choice.reason = QStringLiteral("shader: the view samples the picture's planes itself");
        return choice;
    }
    QString ignored;
    if (forced == "shader") {
        choice.reason = QStringLiteral("shader: SEEKMARK_PICTURE_PATH=shader");
        return choice;
    }
    if (forced == "cpu") {
        if (canBlit) {
            choice.path = Path::Cpu;
            choice.reason = QStringLiteral("cpu: SEEKMARK_PICTURE_PATH=cpu");
        } else {
            choice.reason = QStringLiteral("shader: SEEKMARK_PICTURE_PATH=cpu, but %1 cannot copy a framebuffer")
                                .arg(named(renderer));
        }
        return choice;
    }
    if (!forced.isEmpty())
        ignored = QStringLiteral(" (SEEKMARK_PICTURE_PATH=%1 ignored: shader or cpu)").arg(QString::fromLatin1(forced));
    if (isSoftwareRenderer(renderer) && canBlit) {
        choice.path = Path::Cpu;
        choice.reason = QStringLiteral("cpu: %1 draws on the CPU").arg(named(renderer)) + ignored;
    } else if (isSoftwareRenderer(renderer)) {
        choice.reason = QStringLiteral("shader: %1 draws on the CPU but cannot copy a framebuffer").arg(named(renderer))
                        + ignored;
    } else {
        choice.reason = QStringLiteral("shader: %1").arg(named(renderer)) + ignored;
    }
    return choice;
}
