#pragma once

#include <QByteArray>
#include <QString>

// Which way a window draws its pictures. The shader path uploads the planes and converts them to
// RGB per window pixel in a fragment shader: cheap on a GPU, but under a software GL (Mesa's
// llvmpipe in a VM, a remote desktop, a CI runner) every window pixel then costs three texture
// fetches and the conversion on the CPU. The CPU path converts and scales each picture once, to
// the size it takes in the window (libswscale, as a software video output does), and copies it
// into the window 1:1.
//
// The choice, in this order:
//   1. a view that samples the planes itself (zoomed square pixels, a difference, a split) is
//      drawn by the shader path only, whatever else is asked;
//   2. SEEKMARK_PICTURE_PATH=shader or =cpu forces a path (for measuring); the CPU path also
//      needs the GL to copy a framebuffer (glBlitFramebuffer), without it the shader path stays;
//   3. otherwise a software renderer (GL_RENDERER naming llvmpipe, softpipe, swrast or another
//      software rasteriser) takes the CPU path, a hardware one the shader path.
// Any other value of the variable is ignored (and said so in the reason).
//
// A pure function of its inputs: any thread.
struct PicturePathChoice {
    enum class Path { Shader, Cpu };
    // What the view on screen needs.
    enum class View {
        Fitted,       // the whole picture fitted into the window: either path draws it
        ShaderOnly,   // a view only the shader path can draw
    };

    // renderer: GL_RENDERER of the window's context; forced: SEEKMARK_PICTURE_PATH's value
    // (empty: not set); canBlit: the context has framebuffer objects and glBlitFramebuffer.
    static PicturePathChoice choose(const QByteArray &renderer, const QByteArray &forced, View view,
                                    bool canBlit);
    // GL_RENDERER names a rasteriser that runs on the CPU.
    static bool isSoftwareRenderer(const QByteArray &renderer);

    Path path = Path::Shader;
    QString reason;   // one line for the debug output: why this path
};
