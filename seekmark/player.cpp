#include "player.h"

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "engine/decoderagent.h"
#include "engine/videoagent.h"
#include "engine/pixelpacket.h"
#include "platform/clipdialog.h"
#include "platform/debugoutput.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QTextStream>
#include <QTimerEvent>

#include <cmath>

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

// A seek the engine could not make acknowledges nothing: waiting for its seekDone() makes the
// watch report it as failed, where the moving clock of a silent clip would pass for a landing.
bool seekFailed(const FFMpegVideo *video)
{
    return video && video->agent() && video->agent()->lastSeekFailed();
}

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
    m_AimTimer.setSingleShot(true);
    m_AimTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_AimTimer, &QTimer::timeout, this, [this] {
        if (m_InTick)
            return;
        FlagScope inTick(m_InTick);
        tick();
    });
    m_Report.setFileName(setup.reportFile.isEmpty() ? paths::reportFile() : setup.reportFile);
    setFormat(surfaceFormat());
    setWindowTitle(QStringLiteral("seekmark"));
    // The picture on screen, for drawing it afresh at another window size: the scheduler's.
    m_Renderer.setPictureSource([this]() -> const PixelPacket * {
        const FFMpegVideo *video = ffmpegVideo();
        const DecoderAgent *agent = video ? video->agent() : nullptr;
        return agent && agent->videoAgent() ? agent->videoAgent()->current() : nullptr;
    });
    // What the window makes of each picture, for the decoder to queue them that way.
    m_Renderer.setTargetListener([this](const PictureTarget &target) {
        if (const FFMpegVideo *video = ffmpegVideo(); video && video->agent())
            video->agent()->setPictureTarget(target);
    });

    if (setup.askForClip) {
        m_FileName = ClipDialog::ask(tr("Open Video"), tr("Video Files (*.mp4 *.mpg *.mkv)"),
                                     paths::dialogFolder());
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
    // The picture path, and what the decoder should make of the pictures for it, before the first
    // picture is decoded.
    m_Renderer.prepare(size());
    newFileToCheck();
}

Player::~Player()
{
    carryOut(m_Session.closing());
    if (m_TimerId)
        killTimer(m_TimerId);
    m_TimerId = 0;
    m_AimTimer.stop();
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

double Player::clockSeconds() const
{
    const FFMpegVideo *video = ffmpegVideo();
    if (!video || !video->isOpened() || !video->agent())
        return 0.0;
    return video->agent()->m_Clock.load();
}

qint64 Player::clockMs() const
{
    return static_cast<qint64>(clockSeconds() * 1000.0);
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

    carryOut(m_Session.closing());
    if (m_Video) {
        killTimer(m_TimerId);
        m_TimerId = 0;
        m_AimTimer.stop();
        delete m_Video;
        m_Video = nullptr;
    }
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

    if (!opened) {
        // Playing on with an unopened video is harmless (it answers 0 and null everywhere), but
        // the user has to learn which clip failed and why (the session puts it in the title).
        m_Log.log(LOG_WARN,
                  QStringLiteral("cannot open clip %1: %2").arg(m_ClipPath, video->errorString()),
                  __FILE__, __LINE__);
    }

    connect(video, &Video::seekDone, this, &Player::slotSeekDone);
    if (video->agent()) {
        // A seek the decoder could not make lands nowhere: it is counted as failed, never as a
        // landing (unless a newer seek has been asked for meanwhile).
        connect(video->agent(), &DecoderAgent::seekFailed, this, [this] {
            if (seekFailed(ffmpegVideo()))
                carryOut(m_Session.seekFailed(m_TickClock.elapsed()));
        });
    }
    connect(video, &Video::videoEnd, this, &Player::slotVideoEnd);
    m_TimerId = startTimer(kTickMs, Qt::PreciseTimer);
    video->play();

    SeekSession::Clip clip;
    clip.opened = opened;
    clip.failure = video->errorString();
    clip.durationMs = video->durationMs();
    clip.frameRate = video->frameRate();
    clip.hasAudio = clipHasAudio();
    update();
    carryOut(m_Session.opened(clip, m_TickClock.elapsed()));
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
    const qint64 nowUs = m_TickClock.nsecsElapsed() / 1000;
    const qint64 now = nowUs / 1000;
    const FramePacer::TickDecision decision = m_Pacer.tickUs(nowUs);
    if (decision.late)
        qDebug() << "Player" << decision.elapsed;
    qDebug() << "FPS DELAY" << m_Pacer.frameInterval();

    // May reopen the clip (end of a batch); the request below then goes to the new one.
    carryOut(m_Session.tick(now, clockMs()));

    // A debug line whenever the sound ran dry while playing, so that gaps can be counted from the
    // outside like dropped pictures.
    if (const FFMpegVideo *video = ffmpegVideo(); video && video->agent()) {
        const int gaps = video->agent()->soundGaps();
        if (gaps != m_SoundGaps) {
            m_SoundGaps = gaps;
            qDebug() << "sound gaps" << gaps;
        }
    }

    if (decision.request && m_Video)
        request(nowUs);
    aimNextRequest();
}

void Player::request(qint64 nowUs)
{
    PixelPacket *picture = nullptr;
    {
        FlagScope inRequest(m_InNextPicture);
        picture = m_Video->nextPicture();
    }
    // The clock as the scheduler judged the picture: the first picture of a new position sets it
    // there. Read before the request, it still stood where a seek made while paused had left it
    // (seconds away), and the pacer held the requests back for a second while the pictures after
    // the landing fell late and were dropped.
    const double clock = clockSeconds();
    if (!picture) {
        debugOutput(m_Pacer.noPicture().trace().constData());
        return;
    }
    const FramePacer::PictureDecision shown = m_Pacer.picture(picture->m_Time);
    if (shown.outcome != FramePacer::Outcome::Show) {
        debugOutput(shown.trace().constData());
        return;
    }
    // The scheduler only keeps pictures within -50..+100 ms of the sound; the pacer aims the
    // next request at the moment its picture is due.
    if (clipHasAudio())
        m_Pacer.followClock(std::llround((picture->m_Time - clock) * 1e6));

    const qint64 position = m_Video->position();
    if (position != m_LastPosition) {
        m_LastPosition = position;
        m_AccessView.setTime(position);
    }
    // The picture stays the scheduler's and valid until the next request: upload it now.
    showPicture(picture);
    m_Pacer.displayTook(m_TickClock.nsecsElapsed() / 1000 - nowUs);
}

void Player::aimNextRequest()
{
    // A request due before the next tick gets a timer of its own, aimed at its moment.
    const qint64 untilUs = m_Pacer.untilRequestUs();
    if (m_TimerId && untilUs > 0 && untilUs < kTickMs * 1000)
        m_AimTimer.start(static_cast<int>((untilUs + 999) / 1000));
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
    carryOut(m_Session.pictureShown(m_TickClock.elapsed(), clockMs(), picture->m_Time, picture->m_KeyFrame));
    // One line per uploaded picture: how far it is from the clock, and when (the tick's monotonic
    // ms), so that pacing and seek latency can be measured from the outside.
    qDebug() << "shown" << picture->m_Time << "clock" << clockMs() / 1000.0 << "at" << m_TickClock.elapsed();
    // Drawn now rather than at the window system's next update request (5 ms or more later, and
    // unevenly so): the picture is due now.
    update();
    if (isExposed()) {
        QEvent paintNow(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(this, &paintNow);
    }
}

void Player::carryOut(const SeekSession::Actions &actions)
{
    for (const SeekSession::Action &action : actions) {
        switch (action.kind) {
        case SeekSession::Action::Kind::SeekTo:
            seekVideo(action.seconds, action.click);
            break;
        case SeekSession::Action::Kind::Say:
            qDebug().noquote() << action.text;
            break;
        case SeekSession::Action::Kind::ReportLine:
            writeReportLine(action.text);
            break;
        case SeekSession::Action::Kind::Row:
            writeSeekRow(action.row);
            break;
        case SeekSession::Action::Kind::Reopen:
            emit endCheckFile();
            break;
        case SeekSession::Action::Kind::Retitle:
            updateTitle();
            break;
        }
    }
}

void Player::seekVideo(qint64 seconds, bool click)
{
    if (!m_Video)
        return;
    // How long the window waits for the request to be taken, measured from the outside.
    QElapsedTimer handOver;
    handOver.start();
    m_Video->seek(static_cast<int>(seconds));
    qDebug() << "seek handed over in" << handOver.nsecsElapsed() / 1000 << "us";
    // A clip that played to its end has stopped its decoder (its videoEnd may still be on the way):
    // the seek alone would leave the last picture standing. Play on from the new second.
    const FFMpegVideo *video = ffmpegVideo();
    if (m_Ended || (video && video->agent() && video->agent()->isStopped())) {
        m_Ended = false;
        m_Video->play();
    }
    m_Session.seekStarted(m_TickClock.elapsed(), clockMs());
    if (click) {
        m_AccessView.setRequestTime(seconds);
        m_AccessView.clearDistances();
    }
}

void Player::slotSeekDone()
{
    if (!m_Video)
        return;
    const FFMpegVideo *video = ffmpegVideo();
    carryOut(m_Session.seekDone(clockMs(), video && video->agent() && video->agent()->isSeekPending()));
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

void Player::updateTitle()
{
    QString title = QStringLiteral("seekmark");
    if (!m_ClipPath.isEmpty())
        title += QStringLiteral(" - ") + QFileInfo(m_ClipPath).fileName();
    const QString tail = m_Video ? m_Session.titleText() : m_TitleNote;
    if (!tail.isEmpty())
        title += QStringLiteral(" - ") + tail;
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
        carryOut(m_Session.paused());
        break;
    case Qt::Key_T:
        if (!event->isAutoRepeat())
            carryOut(m_Session.keyT(m_TickClock.elapsed()));
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
    carryOut(m_Session.rightClick(m_TickClock.elapsed(), static_cast<int>(event->position().x()), width()));
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
