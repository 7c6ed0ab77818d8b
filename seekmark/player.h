#pragma once

#include "access/storageprofile.h"
#include "access/videoengine.h"
#include "log/logcategory.h"
#include "render/framepacer.h"
#include "render/glwindow.h"
#include "render/picturerenderer.h"
#include "seekmark/fileaccessfanout.h"
#include "seekmark/fileaccessview.h"
#include "seektest/seekreadcounter.h"
#include "seektest/seeksession.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QSurfaceFormat>
#include <QTimer>

#include <memory>

class FFMpegVideo;
class FileVideoDriver;
class PixelPacket;
class Video;

// seekmark's main window: plays one clip with picture and sound, reading every byte through its own
// video engine (a FileVideoDriver registered under "file" that reports each open and read to the
// "File access" window), and measures where seeks land: a right click seeks to the clicked
// fraction of the clip, and the T key runs batches of random seeks whose statistics go to the
// report file, one line per batch of 21, after which the clip is opened afresh. Beside the report a
// table gets one row per measured seek, random or right-click (SeekRow): the second it landed on,
// the first picture shown after the request and what was read for it. The reopen after a batch
// waits, at most PendingSeekRow::PictureWaitMs, for the batch's last row to get its picture.
//
// Controls: P pauses; any other key but T and S resumes; T starts and stops a seek-test run; S
// turns the driver to the next storage profile (shown in the access view) and leaves playback as
// it is; a double click toggles full screen; a right press seeks.
//
// Picture clock: a 5 ms timer paces picture requests at the clip's frame rate (FramePacer fed by a
// monotonic clock), asks the video's scheduler for the picture due, uploads it into the
// renderer's texture and draws it at once. With sound the requests are aimed at the moments the
// pictures are due on the clock, ahead by the time drawing takes; one due between two ticks gets a
// single-shot timer of its own. The same tick keeps the access view's time display at the
// playback position.
//
// The seek measurement is a SeekSession: the window hands it the keys, the right click, the
// decoder's seekDone(), each tick's clock and each picture shown, and carries out what it answers
// (seek, write a report line or a row, reopen the clip, retitle).
//
// Threads: everything here runs on the GUI thread; the decoder's signals arrive queued. The
// decoder thread reads through m_Driver and reports to m_AccessView and m_SeekReads (through
// m_FileListeners; the counter has its own lock), so the video is always
// stopped and deleted before either goes (newFileToCheck(), the destructor). nextPicture() may
// process events; the tick is not re-entered from them (m_InTick), and a clip reopen requested
// from them is deferred until the request has returned (m_InNextPicture).
class Player : public GlWindow {
    Q_OBJECT
public:
    // How the player finds its clip and report. The program asks in the open dialog and writes
    // the report to the fixed place; tests and tools name both.
    struct Setup {
        bool askForClip = true;   // show the open dialog; otherwise check `clip`
        QString clip;             // without the dialog: the clip; empty means the default clip
        QString reportFile;       // empty means paths::reportFile()
    };

    // The GL format of the window: the application's default with double buffering, a depth
    // buffer and a swap interval of 1. The entry point makes it the default before the
    // application object exists.
    static QSurfaceFormat surfaceFormat();

    // The program's player: asks for the clip in the open dialog. The name is not used.
    explicit Player(const QString &name = QString(), QWindow *parent = nullptr);
    explicit Player(const Setup &setup, QWindow *parent = nullptr);
    ~Player() override;

    // For tests and tools that look beneath the window.
    Video *video() const { return m_Video; }
    FileAccessView &accessView() { return m_AccessView; }
    const SeekStats &seekStats() const { return m_Session.stats(); }
    const SeekTestRun &seekTestRun() const { return m_Session.run(); }
    QString reportPath() const { return m_Report.fileName(); }
    // The table of measured seeks beside the report (paths::seekRowsFile).
    QString seekRowsPath() const { return m_SeekRows.fileName(); }
    // The clip being checked (the dialog's choice or the default clip).
    QString clipPath() const { return m_ClipPath; }
    int picturesShown() const { return m_PicturesShown; }
    int clipsOpened() const { return m_ClipsOpened; }
    // The storage the driver makes the clip seem to lie on.
    StorageProfile storageProfile() const;

signals:
    // A batch of the seek test is complete: check the clip afresh.
    void endCheckFile();

protected slots:
    // The random seek and its measurement (slotSeekTest(), reportSeek()) live in the SeekSession.
    void slotSeekDone();
    // Stops the clip being played, if any, and opens the clip to check.
    void newFileToCheck();

protected:
    void timerEvent(QTimerEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private slots:
    void slotVideoEnd();

private:
    void construct(const Setup &setup);
    void tick();
    // Asks the scheduler for the picture due and shows it; nowUs: the tick's time.
    void request(qint64 nowUs);
    void aimNextRequest();
    void showPicture(PixelPacket *picture);
    // Does what the seek session asked for, in order.
    void carryOut(const SeekSession::Actions &actions);
    void seekVideo(qint64 seconds, bool click);
    void nextStorageProfile();
    void writeReportLine(const QString &line);
    void openSeekRows();
    void writeSeekRow(const SeekRow &row);
    void updateTitle();
    // The open clip's decoder clock in ms; 0 when nothing is open. Unlike positionMs(), reading
    // it never moves a stopped clock on.
    qint64 clockMs() const;
    double clockSeconds() const;
    bool clipHasAudio() const;
    bool clipOpen() const;
    FFMpegVideo *ffmpegVideo() const;

    Video *m_Video = nullptr;   // owned; the clip being played
    int m_PictureWidth = 0;     // the clip's picture size; 0 while no clip is open (black view)
    int m_PictureHeight = 0;
    PictureRenderer m_Renderer;
    VideoEngine m_Engine;
    std::unique_ptr<FileVideoDriver> m_Driver;   // registered in m_Engine under "file"
    QFile m_Report;
    int m_TimerId = 0;
    QTimer m_AimTimer;          // single shot: a request due between two ticks
    FileAccessView m_AccessView;
    QString m_FileName;         // the dialog's choice; empty when cancelled
    QString m_ClipPath;         // the clip actually opened
    QElapsedTimer m_TickClock;  // monotonic time of the tick and the seek test
    FramePacer m_Pacer;
    qint64 m_LastPosition = -1;   // last whole second given to the access view; -1: none yet
    QString m_TitleNote;          // why no clip is open (the report cannot be written)
    LogCategory m_Log{"player"};
    bool m_Ended = false;         // the clip played to its end; the decoder has stopped
    bool m_InTick = false;
    bool m_InNextPicture = false;
    bool m_ReopenPending = false;
    int m_PicturesShown = 0;
    int m_SoundGaps = 0;          // the open clip's count as last written to the debug output
    int m_ClipsOpened = 0;

    // The table of measured seeks, one row per seek (random and right-click), beside the report.
    // The driver reports to both the access view and the counter of each seek's reads.
    QFile m_SeekRows;
    SeekReadCounter m_SeekReads;
    FileAccessFanout m_FileListeners{&m_AccessView, &m_SeekReads};
    SeekSession m_Session{&m_SeekReads};
};
