#pragma once

#include "clippairing.h"
#include "comparereport.h"
#include "comparisondrawer.h"
#include "decoderfeed.h"
#include "decoderpictures.h"
#include "stepplanner.h"
#include "zoomgeometry.h"

#include "render/glwindow.h"
#include "render/picturerenderer.h"

#include <QElapsedTimer>
#include <QString>
#include <QSurfaceFormat>

#include <memory>

class BackgroundJob;
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
// after it (PairTiming, with the second clip's offset). Both clips' pictures are stamped with
// their own presentation times, reordered (B-frame) streams included, so no shift is applied for
// a decoder that reorders and nothing is realigned after a seek.
//
// The bench: while paused, `.` and `,` step the pair a picture forward and back (StepPlanner over
// the decoders' queues, DecoderFeed; a step key pauses first), `]` and `[` move the second clip a
// picture later and earlier, A searches the offset in the background (ClipComparison with
// decoders of its own), W ranks every pair in a background pass and jumps to the next worst; the
// wheel zooms at the cursor, a left drag pans (a left click still switches), 0 resets, D shows
// the difference and V splits at the cursor (ComparisonDrawer). While paused the pair on screen is
// measured in the background (PictureMetrics). Resuming plays on from the pair on screen.
//
// The window title reads out the pairing (PairingReadout): both clips' picture times and numbers
// since the start or the last seek, the last step and which clip is on screen, and the bench's
// figures, offset, pixel values, view and pass. It is renewed at most ten times a second while
// pictures come, at once after a control and the first pairing after a seek.
//
// Threads: everything here runs on the GUI thread: the timers, the controls, painting and the
// decoders' start/pause/seek/nextPicture. Each decoder runs its own worker thread that fills its
// own picture queue; the two share nothing, and the Player holds no lock. The background jobs run
// on threads of their own with copies of what they need (file names, frames, the timing) and
// report through QThread::finished(), queued to the GUI thread.
//
// Ownership: the Player owns both decoders (stopped and deleted in its destructor, before the GL
// context and the window go; the pictures kept for stepping go before them), both renderers'
// textures and the drawer's shader (released with the context current), the timers (children)
// and the background jobs (cancelled and waited for first).
class Player : public GlWindow {
    Q_OBJECT
public:
    // The two clips, given directly instead of through the open-file dialogs (an empty one is
    // asked for in the dialog).
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

    // The pictures kept for steps back, both clips together, at most (15 pictures of 1080p a
    // clip; reading ahead in the steps' direction keeps them coming); nothing is kept while
    // playing.
    static constexpr qint64 StepBudgetBytes = qint64(96) << 20;

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
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
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

    void togglePause();
    // Pauses (as space does) and starts stepping from the pair on screen; false without one.
    bool ensureStepping();
    void stopStepping();
    // Queues a step command on the planner and carries it on.
    void step(void (StepPlanner::*command)());
    // A command is about to be queued: its wait starts now unless one is waiting already.
    void stepQueued();
    void pollSteps();
    void showSteppedPair();
    void changeOffset(int delta);
    void setOffset(int offset);
    void searchOffset();
    void nextWorstPair();
    void measurePair();
    void updateSample();
    void setView(PairingReadout::View view);
    // The pictures on screen: the planner's while stepping, else the schedulers'.
    const PixelPacket *shownPicture(int clip) const;
    // The zoom's base: the first clip's plain quad in this view.
    void updateZoomBase();
    QSize viewSize() const;
    bool plainView() const;
    // Tells the renderers whether the view needs the shader path.
    void choosePicturePaths();

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

    // Stepping while paused.
    std::unique_ptr<DecoderFeed> m_Feed1;
    std::unique_ptr<DecoderFeed> m_Feed2;
    std::unique_ptr<StepPlanner> m_Steps;
    QTimer *m_StepTimer = nullptr;     // polls the planner while a step waits for its pictures
    qint64 m_StepAskedAt = -1;         // the oldest step not shown yet (m_Clock ms)
    bool m_StepShownPending = false;   // a stepped pair was uploaded and waits for its paint
    qint64 m_StepWaitSince = -1;       // when the planner last had to wait
    // Looking closer.
    ZoomGeometry m_Zoom;
    ComparisonDrawer m_Drawer;
    PairingReadout::View m_View = PairingReadout::View::Plain;
    QPointF m_Cursor{-1, -1};          // device pixels; negative: outside
    bool m_Dragging = false;           // a left press while zoomed: a pan or a click
    bool m_DragMoved = false;
    QPointF m_DragLast;
    // Background work.
    std::unique_ptr<BackgroundJob> m_Measure;   // the pair on screen
    bool m_MeasureAgain = false;       // the pair changed while it was measured
    std::unique_ptr<BackgroundJob> m_Pass;      // the worst pairs
    QList<PairRow> m_WorstRows;        // worst first, from the last pass
    int m_WorstPassOffset = 0;         // the offset that pass paired with
    bool m_PassDone = false;
    int m_WorstNext = 0;
    std::unique_ptr<BackgroundJob> m_Align;     // the offset search
};
