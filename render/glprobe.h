#pragma once

#include <QByteArray>

// What the GL of this display is, before any window has a context: a throwaway context on an
// offscreen surface, made current once to read GL_RENDERER and whether it can copy between
// framebuffers. A player asks before it opens its first clip, so that its decoder queues the
// pictures in the form the picture path will draw from the first picture on (see
// PictureRenderer::prepare()).
//
// GUI thread (a QGuiApplication must exist). The answer is kept for the life of the process.
class GlProbe {
public:
    // False when no GL context could be made current (no display, no GL).
    bool ok = false;
    QByteArray renderer;
    bool canBlit = false;

    static const GlProbe &once();
};
