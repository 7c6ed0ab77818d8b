#pragma once

#include "clippairing.h"
#include "decoderpictures.h"

#include "render/glwindow.h"
#include "render/picturerenderer.h"

#include <QElapsedTimer>
#include <QString>
#include <QSurfaceFormat>

#include <memory>

class DecoderAgent;
class PixelPacket;
class QTimer;

// framewise's window: asks for two clips, decodes both at once with one DecoderAgent each, shows
// one of them at the first clip's picture rate and keeps the second clip in step with the first
// picture by picture. A left press switches the clip on screen (a red square marks the first, a
// blue one the second), a right press seeks both clips to the clicked fraction of the first one,
// F toggles full screen and space pauses and resumes.
//
// Pacing and pairing: a 4 ms render timer drives timerEventCus(), which hands the tick, a
// monotonic time and both decoders' pictures (DecoderPictures) to ClipPairing and carries out its
// answer: the first clip's next picture at its own rate, the second clip's latest picture not
// after it. Both clips' pictures are stamped with their own presentation times, reordered
// (B-frame) streams included, so no shift is applied for a decoder that reorders and nothing is
// realigned after a seek.
//
// The window title reads out the pairing (PairingReadout): both clips' picture times and numbers
// since the start or the last seek, the last step and which clip is on screen. It is renewed at
// most ten times a second while pictures come, at once after a control and the first pairing
// after a seek.
//
// Threads: everything here runs on the GUI thread: the timers, the controls, painting and the
// decoders' start/pause/seek/nextPicture. Each decoder runs its own worker thread that fills its
// own picture queue; the two share nothing, and the Player holds no lock.
//
// Ownership: the Player owns both decoders (stopped and deleted in its destructor, before the GL
// context and the window go), both renderers' textures (released with the context current) and
// the render timer (a child).
class Player : public GlWindow {
    Q_OBJECT
public:
    // The two clips, given directly instead of through the open-file dialogs.
    struct Clips {
        QString first;
        QString second;
        // Named on the command line: a clip that cannot be opened is named on stderr, with no
        // message box, and the program ends with status 1.
        bool fromCommandLine = false;
        int offset = 0;   // the second clip moved by pictures (see PairTiming)
    };

    // The program's window: asks for the two clips in open-file dialogs. name is not used; offset:
    // the second clip moved by pictures from the start.
    explicit Player(const QString &name = QString(), QWindow *parent = nullptr, int offset = 0);
    // The same window on clips chosen elsewhere (no dialogs).
    explicit Player(const Clips &clips, QWindow *parent = nullptr);
    ~Player() override;

    // The GL format the program asks for: double buffered, with a depth buffer and a swap interval
    // of 1. Qt's default compatibility profile is kept, as the renderer uses legacy GL calls.
    static QSurfaceFormat surfaceFormat();

    // A clip could not be opened: the message box has been shown and closed (or, for clips from
    // the command line, the clip named on stderr), nothing was started, and the program ends.
    bool openFailed() const { return m_OpenFailed; }

    QSize pictureSize1() const { return QSize(m_Picture1Width, m_Picture1Height); }
    QSize pictureSize2() const { return QSize(m_Picture2Width, m_Picture2Height); }

signals:
    void endCheckFile();

protected slots:
    void slotSeekTest();
    void slotSeekDone();
    void newFileToCheck();
    void correctFrame();
    void startRendering();
    void stopRendering();
    void timerEventCus();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private:
    void construct(const Clips *clips, int offset);
    QString chooseFile(const Clips *clips, bool first);
    bool openClip(DecoderAgent &decoder, const QString &fileName);
    void upload(PictureRenderer &renderer, const PixelPacket &picture);
    void seekClick(int x);
    // Sets the readout as the window title when it changed and the throttle lets it.
    void refreshTitle();
    void showingChanged();

    int m_Picture1Width = 0;
    int m_Picture1Height = 0;
    PictureRenderer m_Renderer1;   // texture of the first clip
    int m_Picture2Width = 0;
    int m_Picture2Height = 0;
    PictureRenderer m_Renderer2;   // texture of the second clip

    std::unique_ptr<DecoderAgent> m_Decoder1;
    std::unique_ptr<DecoderAgent> m_Decoder2;
    DecoderAgent *m_Primary = nullptr;   // sets the rate, is sought first, paces the display

    int m_SeekTarget = 0;
    QString m_FileName1;
    QString m_FileName2;

    QElapsedTimer m_Clock;   // the pairing's monotonic time
    ClipPairing m_Pairing;   // pacing, pairing and the title's readout
    DecoderPictures m_Pictures1;   // m_Primary's pictures
    DecoderPictures m_Pictures2;   // m_Decoder2's pictures

    int m_ClickTarget = 0;   // no right click yet: second 0
    bool m_ShowFirst = true;
    QTimer *m_RenderTimer = nullptr;
    bool m_Paused = false;
    bool m_InTick = false;   // a tick is running (guards against re-entry from event processing)
    bool m_OpenFailed = false;
    bool m_NoMessageBox = false;   // the clips came from the command line
};
