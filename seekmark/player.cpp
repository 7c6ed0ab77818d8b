#include "player.h"

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/schedulerdecision.h"
#include "platform/debugoutput.h"
#include "platform/paths.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QTextStream>
#include <QTimerEvent>

#include <cstdlib>
#include <optional>

namespace {

const char *const kDriverName = "file";
const char *const kUrlPrefix = "file://";
constexpr int kTickMs = 5;


// Sets a flag for the life of a scope.
class FlagScope {
public:
    explicit FlagScope(bool &flag) : m_Flag(flag) { m_Flag = true; }
    ~FlagScope() { m_Flag = false; }
    FlagScope(const FlagScope &) = delete;
    FlagScope &operator=(const FlagScope &) = delete;

private:
    bool &m_Flag;
};

} // namespace

QSurfaceFormat Player::surfaceFormat()
{
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setDepthBufferSize(24);
    format.setSwapInterval(1);
    return format;
}

Player::Player(const QString & /*name*/, QWindow *parent)
    : GlWindow(parent)
    , m_AccessView(600, 50, nullptr)
    , m_Pacer(PacerOptions::seekmark())
{
    construct(Setup());
}

Player::Player(const Setup &setup, QWindow *parent)
    : GlWindow(parent)
    , m_AccessView(600, 50, nullptr)
    , m_Pacer(PacerOptions::seekmark())
{
    construct(setup);
}

void Player::construct(const Setup &setup)
{
    m_TickClock.start();
    m_Report.setFileName(setup.reportFile.isEmpty() ? paths::reportFile() : setup.reportFile);
    setFormat(surfaceFormat());
    setWindowTitle(QStringLiteral("seekmark"));

    if (setup.askForClip) {
        m_FileName = QFileDialog::getOpenFileName(nullptr, tr("Open Video"), paths::dialogFolder(),
                                                  tr("Video Files (*.mp4 *.mpg *.mkv)"));
    } else {
        m_FileName = setup.clip;
    }

    m_AccessView.show();

    m_Driver = std::make_unique<FileVideoDriver>();
    m_Driver->m_Listener = &m_FileListeners;
    m_Engine.registerDriver(QString::fromLatin1(kDriverName), m_Driver.get());

    if (!m_Report.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        // Without a report there is nothing to measure into: no clip is opened. Say why, so the
        // black window is not a riddle.
        m_TitleNote = QStringLiteral("cannot write the report %1: %2")
                          .arg(m_Report.fileName(), m_Report.errorString());
        m_Log.log(LOG_WARN, m_TitleNote, __FILE__, __LINE__);
        updateTitle();
        return;
    }
    openSeekRows();

    connect(this, &Player::endCheckFile, this, &Player::newFileToCheck);
    newFileToCheck();
}

Player::~Player()
{
    finishSeekRow();
    if (m_TimerId)
        killTimer(m_TimerId);
    m_TimerId = 0;
    // The decoder thread reads through m_Driver and reports to m_AccessView: it has to end
    // before the members go.
    delete m_Video;
    m_Video = nullptr;
    if (isValid()) {
        makeCurrent();
        m_Renderer.release();
        doneCurrent();
    }
}

FFMpegVideo *Player::ffmpegVideo() const
{
    return qobject_cast<FFMpegVideo *>(m_Video);
}

bool Player::clipOpen() const
{
    return m_Video && m_Video->isOpened();
}

bool Player::clipHasAudio() const
{
    const FFMpegVideo *video = ffmpegVideo();
    return video && video->agent() && video->agent()->hasAudio();
}

qint64 Player::clockMs() const
{
    const FFMpegVideo *video = ffmpegVideo();
    if (!video || !video->isOpened() || !video->agent())
        return 0;
    return static_cast<qint64>(video->agent()->m_Clock.load() * 1000.0);
}

void Player::newFileToCheck()
{
    if (m_InNextPicture) {
        // The request's event processing must not lose its decoder under it: reopen right after.
        if (!m_ReopenPending) {
            m_ReopenPending = true;
            QMetaObject::invokeMethod(this, &Player::newFileToCheck, Qt::QueuedConnection);
        }
        return;
    }
    m_ReopenPending = false;

    if (m_Video) {
        killTimer(m_TimerId);
        m_TimerId = 0;
        delete m_Video;
        m_Video = nullptr;
    }
    if (m_Watch.isArmed()) {
        m_Watch.cancel();
        m_Run.seekAbandoned();
    }
    m_ClickWatch.cancel();
    m_ReopenAfterRow = false;
    finishSeekRow();
    m_Ended = false;

    m_ClipPath = m_FileName.isEmpty() ? paths::defaultClip() : m_FileName;
    auto *video = new FFMpegVideo(&m_Engine, QString::fromLatin1(kUrlPrefix) + m_ClipPath, nullptr);
    m_Video = video;
    const bool opened = video->open();
    ++m_ClipsOpened;

    m_PictureWidth = video->width();
    m_PictureHeight = video->height();
    m_Renderer.setPictureSize(QSize(m_PictureWidth, m_PictureHeight));

    m_AccessView.setDataOffset(video->dataOffset());
    m_AccessView.setOpened();

    const double rate = FramePacer::rateUsed(video->frameRate(), m_Pacer.options().limitRate);
    qDebug() << "FPS" << rate;
    const int interval = m_Pacer.setFrameRate(rate);
    qDebug() << "FPS DELAY" << interval;
    qDebug() << "FileAccessView::OPENED";

    if (opened) {
        m_TitleNote.clear();
    } else {
        // Playing on with an unopened video is harmless (it answers 0 and null everywhere), but
        // the user has to learn which clip failed and why.
        m_TitleNote = QStringLiteral("cannot open: %1").arg(video->errorString());
        m_Log.log(LOG_WARN,
                  QStringLiteral("cannot open clip %1: %2").arg(m_ClipPath, video->errorString()),
                  __FILE__, __LINE__);
        if (m_Run.isActive())
            m_Run.stop();
    }

    connect(video, &Video::seekDone, this, &Player::slotSeekDone);
    connect(video, &Video::videoEnd, this, &Player::slotVideoEnd);
    m_TimerId = startTimer(kTickMs, Qt::PreciseTimer);
    video->play();

    updateTitle();
    update();
}

void Player::slotVideoEnd()
{
    m_Ended = true;
}

void Player::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_TimerId) {
        GlWindow::timerEvent(event);
        return;
    }
    // nextPicture() processes events, which may bring another expiry of a timer started
    // meanwhile: one tick at a time.
    if (m_InTick)
        return;
    FlagScope inTick(m_InTick);
    tick();
}

void Player::tick()
{
    const qint64 now = m_TickClock.elapsed();
    const FramePacer::TickDecision decision = m_Pacer.tick(now);
    if (decision.late)
        qDebug() << "Player" << decision.elapsed;
    qDebug() << "FPS DELAY" << m_Pacer.frameInterval();

    // May reopen the clip (end of a batch); the request below then goes to the new one.
    checkSeekTest(now);

    // A debug line whenever the sound ran dry while playing, so that gaps can be counted from the
    // outside like dropped pictures.
    if (const FFMpegVideo *video = ffmpegVideo(); video && video->agent()) {
        const int gaps = video->agent()->soundGaps();
        if (gaps != m_SoundGaps) {
            m_SoundGaps = gaps;
            qDebug() << "sound gaps" << gaps;
        }
    }

    if (!decision.request || !m_Video)
        return;

    PixelPacket *picture = nullptr;
    {
        FlagScope inRequest(m_InNextPicture);
        picture = m_Video->nextPicture();
    }
    if (!picture) {
        debugOutput(m_Pacer.noPicture().trace().constData());
        return;
    }
    const FramePacer::PictureDecision shown = m_Pacer.picture(picture->m_Time);
    if (shown.outcome != FramePacer::Outcome::Show) {
        debugOutput(shown.trace().constData());
        return;
    }
    // The scheduler only keeps pictures within -50..+100 ms of the sound; the pacer keeps them
    // close to it within that window.
    if (clipHasAudio())
        m_Pacer.followClock(SchedulerDecision::clockDifferenceMs(picture->m_Time, clockMs() / 1000.0));

    const qint64 position = m_Video->position();
    if (position != m_LastPosition) {
        m_LastPosition = position;
        m_AccessView.setTime(position);
    }
    // The picture stays the scheduler's and valid until the next request: upload it now.
    showPicture(picture);
}

void Player::showPicture(PixelPacket *picture)
{
    if (!picture->plane(0))
        return;
    if (isValid()) {
        makeCurrent();
        m_Renderer.upload(*picture);
        doneCurrent();
    }
    ++m_PicturesShown;
    if (m_PendingRow.isOpen() && !m_PendingRow.hasPicture()) {
        m_PendingRow.pictureShown(picture->m_Time, picture->m_KeyFrame, m_TickClock.elapsed(),
                                  m_SeekReads.count());
        if (m_PendingRow.isComplete())
            finishSeekRow();
    }
    // One line per uploaded picture: how far it is from the clock, and when (the tick's monotonic
    // ms), so that pacing and seek latency can be measured from the outside.
    qDebug() << "shown" << picture->m_Time << "clock" << clockMs() / 1000.0 << "at" << m_TickClock.elapsed();
    update();
}

void Player::checkSeekTest(qint64 nowMs)
{
    const qint64 duration = m_Video ? m_Video->durationMs() : 0;
    switch (m_ClickWatch.poll(nowMs, clockMs(), duration)) {
    case LandingWatch::State::Landed:
        if (m_Video)
            m_PendingRow.landed(m_Video->position());
        if (m_PendingRow.isComplete())
            finishSeekRow();
        break;
    case LandingWatch::State::TimedOut:
        finishSeekRow();   // not landed: not measured
        break;
    case LandingWatch::State::Idle:
    case LandingWatch::State::Pending:
        break;
    }
    if (m_ReopenAfterRow) {
        if (!m_PendingRow.isOpen() || m_PendingRow.hasPicture() || nowMs >= m_ReopenDeadline)
            reopenAfterBatch();
        return;
    }

    switch (m_Watch.poll(nowMs, clockMs(), duration)) {
    case LandingWatch::State::Landed:
        reportSeek();
        break;
    case LandingWatch::State::TimedOut: {
        finishSeekRow();   // not landed: not measured
        qDebug() << "seek to" << m_SeekTarget << "did not land within" << LandingWatch::TimeoutMs
                 << "ms:" << (m_Watch.seekDoneSeen() ? "the clock did not move" : "no seekDone")
                 << "- failed seeks:" << m_Run.failedSeeks() + 1;
        if (m_Run.failed(nowMs)) {
            qDebug().noquote() << m_Run.stopReason();
            m_TitleNote = m_Run.stopReason();
        }
        updateTitle();
        break;
    }
    case LandingWatch::State::Idle:
    case LandingWatch::State::Pending:
        break;
    }

    if (m_Run.seekDue(nowMs))
        slotSeekTest();
}

void Player::slotSeekTest()
{
    if (!clipOpen())
        return;
    const qint64 duration = m_Video->duration();
    const SeekStats::Target range = SeekStats::randomTarget(0, duration);
    if (!range.valid) {
        // Checked before drawing, so a refused test leaves the sequence of targets as it was.
        qDebug().noquote() << range.reason;
        stopSeekTest(range.reason);
        return;
    }
    m_SeekTarget = SeekStats::randomTarget(std::rand(), duration).seconds;
    qDebug() << "richiedo" << m_SeekTarget;
    m_ClickWatch.cancel();
    beginSeekRow(QString::number(m_Run.batchesDone() + 1), m_SeekTarget);
    m_Video->seek(m_SeekTarget);
    if (m_Ended) {
        // The decoder stopped at the end of the clip: it reads from the new position once started.
        m_Ended = false;
        m_Video->play();
    }
    m_Watch.arm(m_TickClock.elapsed(), clockMs(), clipHasAudio());
    if (m_Run.isActive())
        m_Run.seekAsked();
    updateTitle();
}

void Player::slotSeekDone()
{
    if (!m_Video)
        return;
    const qint64 position = m_Video->position();
    qDebug() << "ora sono su " << position;
    qDebug() << "sono" << m_ClickTarget - position;

    // A seekDone of an earlier seek may still have been queued when the watched one was asked
    // for; the decoder's own flag tells whether the watched seek has delivered its sound yet.
    const FFMpegVideo *video = ffmpegVideo();
    if (video && video->agent() && video->agent()->isSeekPending())
        return;
    m_Watch.seekDone(clockMs());
    m_ClickWatch.seekDone(clockMs());
}

void Player::reportSeek()
{
    if (!clipOpen())
        return;
    qDebug() << "sono su " << m_Video->position();
    const SeekStats::Landing landing = m_Stats.record(m_Video->position(), m_SeekTarget);
    if (landing.forward)
        qDebug() << "FORWARD";
    qDebug() << "Average" << landing.average << landing.maxDiff << landing.minDiff;
    m_Run.landed(m_TickClock.elapsed(), landing.batchComplete);
    m_PendingRow.landed(m_SeekTarget + landing.diff);
    if (m_PendingRow.isComplete())
        finishSeekRow();
    updateTitle();
    if (landing.batchComplete) {
        writeReportLine(landing.reportLine);
        if (m_PendingRow.isOpen()) {
            // With sound the clock may show the landing before the first new picture is due: the
            // fresh clip would take the row's picture away.
            m_ReopenAfterRow = true;
            m_ReopenDeadline = m_TickClock.elapsed() + PendingSeekRow::PictureWaitMs;
        } else {
            emit endCheckFile();
        }
    }
}

void Player::writeReportLine(const QString &line)
{
    if (!m_Report.isOpen())
        return;
    QTextStream out(&m_Report);
    out << line << Qt::endl;
    if (out.status() != QTextStream::Ok || !m_Report.flush())
        m_Log.log(LOG_WARN,
                  QStringLiteral("cannot write to the report %1: %2")
                      .arg(m_Report.fileName(), m_Report.errorString()),
                  __FILE__, __LINE__);
}

void Player::openSeekRows()
{
    m_SeekRows.setFileName(paths::seekRowsFile(m_Report.fileName()));
    if (!m_SeekRows.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        // The report works without it: say so and measure on.
        m_Log.log(LOG_WARN,
                  QStringLiteral("cannot write the seek table %1: %2")
                      .arg(m_SeekRows.fileName(), m_SeekRows.errorString()),
                  __FILE__, __LINE__);
        return;
    }
    QTextStream out(&m_SeekRows);
    out << SeekRow::csvHeader() << Qt::endl;
}

void Player::beginSeekRow(const QString &batch, qint64 target)
{
    finishSeekRow();
    m_SeekReads.restart();
    m_PendingRow.begin(batch, target, m_TickClock.elapsed(), m_Video ? m_Video->frameRate() : 0.0);
}

void Player::finishSeekRow()
{
    if (const std::optional<SeekRow> row = m_PendingRow.close(m_SeekReads.count()))
        writeSeekRow(*row);
}

void Player::writeSeekRow(const SeekRow &row)
{
    if (!m_SeekRows.isOpen())
        return;
    QTextStream out(&m_SeekRows);
    out << row.csvLine() << Qt::endl;
    if (out.status() != QTextStream::Ok || !m_SeekRows.flush())
        m_Log.log(LOG_WARN,
                  QStringLiteral("cannot write to the seek table %1: %2")
                      .arg(m_SeekRows.fileName(), m_SeekRows.errorString()),
                  __FILE__, __LINE__);
}

void Player::reopenAfterBatch()
{
    m_ReopenAfterRow = false;
    finishSeekRow();
    emit endCheckFile();
}

void Player::toggleSeekTest()
{
    if (m_Run.isActive()) {
        qDebug() << "seek test stopped";
        stopSeekTest(QString());
        return;
    }
    if (!clipOpen())
        return;
    const SeekStats::Target range = SeekStats::randomTarget(0, m_Video->duration());
    if (!range.valid) {
        qDebug().noquote() << range.reason;
        m_TitleNote = range.reason;
        updateTitle();
        return;
    }
    m_TitleNote.clear();
    m_Run.start(m_TickClock.elapsed());
    qDebug() << "seek test started";
    updateTitle();
}

void Player::stopSeekTest(const QString &note)
{
    // A seek still on its way is not measured: nobody waits for it any more.
    m_Watch.cancel();
    if (!m_PendingRow.hasLanded())
        finishSeekRow();
    m_Run.stop();
    m_TitleNote = note;
    updateTitle();
}

void Player::updateTitle()
{
    QString title = QStringLiteral("seekmark");
    if (!m_ClipPath.isEmpty())
        title += QStringLiteral(" - ") + QFileInfo(m_ClipPath).fileName();
    if (m_Run.isActive())
        title += QStringLiteral(" - ") + m_Run.progress(m_Stats.seekCount());
    else if (!m_TitleNote.isEmpty())
        title += QStringLiteral(" - ") + m_TitleNote;
    setWindowTitle(title);
}

StorageProfile Player::storageProfile() const
{
    return m_Driver ? m_Driver->storageProfile() : StorageProfile();
}

void Player::nextStorageProfile()
{
    // The next read of the decoder thread already waits as the new storage would make it.
    const StorageProfile profile = m_Driver->storageProfile().next();
    m_Driver->setStorageProfile(profile);
    m_AccessView.setStorageProfile(profile);
    qDebug().noquote() << "storage:" << profile.label();
}

void Player::keyPressEvent(QKeyEvent *event)
{
    if (!clipOpen())
        return;
    switch (event->key()) {
    case Qt::Key_P:
        m_Video->pause();
        // Seeks asked while paused never land; a run ends with the pause.
        if (m_Run.isActive()) {
            qDebug() << "seek test stopped";
            stopSeekTest(QString());
        }
        break;
    case Qt::Key_T:
        if (!event->isAutoRepeat())
            toggleSeekTest();
        break;
    case Qt::Key_S:
        if (!event->isAutoRepeat())
            nextStorageProfile();
        break;
    default:
        m_Video->play();
        break;
    }
}

void Player::mouseDoubleClickEvent(QMouseEvent * /*event*/)
{
    if (!m_Video)
        return;
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void Player::mousePressEvent(QMouseEvent *event)
{
    if (!clipOpen() || event->button() != Qt::RightButton)
        return;
    // A batch's reopen still waiting for its last row comes first; the click seeks in the new clip.
    if (m_ReopenAfterRow) {
        reopenAfterBatch();
        if (!clipOpen())
            return;
    }
    // The click's seek replaces any random one on its way: a run ends here.
    if (m_Run.isActive()) {
        qDebug() << "seek test stopped";
        stopSeekTest(QString());
    }
    const qint64 target = SeekStats::clickTarget(m_Video->duration(),
                                                 static_cast<int>(event->position().x()), width());
    beginSeekRow(QString::fromLatin1(SeekRow::ClickBatch), target);
    m_Video->seek(static_cast<int>(target));
    // A clip that played to its end has stopped its decoder (its videoEnd may still be on the way):
    // the seek alone would leave the last picture standing. Play on from the clicked second.
    const FFMpegVideo *video = ffmpegVideo();
    if (m_Ended || (video && video->agent() && video->agent()->isStopped())) {
        m_Ended = false;
        m_Video->play();
    }
    m_ClickWatch.arm(m_TickClock.elapsed(), clockMs(), clipHasAudio());
    m_AccessView.setRequestTime(target);
    m_ClickTarget = static_cast<int>(target);
    qDebug() << "vado sono su " << m_ClickTarget;
    qDebug() << "seek asked at" << m_TickClock.elapsed();
    m_AccessView.clearDistances();
}

void Player::initializeGL()
{
    m_Renderer.initialize(QSize(m_PictureWidth, m_PictureHeight));
}

void Player::resizeGL(int width, int height)
{
    m_Renderer.resize(width, height);
}

void Player::paintGL()
{
    m_Renderer.paint(width(), height());
}
