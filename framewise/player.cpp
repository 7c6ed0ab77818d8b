#include "player.h"

#include "backgroundjob.h"
#include "clipcomparison.h"

#include "engine/decoderagent.h"
#include "engine/engineoptions.h"
#include "engine/pixelpacket.h"
#include "platform/clipdialog.h"
#include "platform/debugoutput.h"
#include "platform/paths.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kRenderPeriodMs = 4;
// Pictures start to be shown, and rendering resumes after a seek, this long after the decoders
// were (re)started, so that both picture queues have filled meanwhile.
constexpr int kSettleMs = 1000;
// Random seeks never ask for the clip's last seconds.
constexpr qint64 kSeekTestTailSeconds = 30;
// A step's pictures are looked for this often while the decoders work on them, and given up
// after this long without one (the clip's end: the window's decoders never say so).
constexpr int kStepPollMs = 4;
constexpr qint64 kStepGiveUpMs = 3000;
// While stepping the decoders read only this far ahead of the pictures taken.
constexpr int kStepReadAhead = 4;
// A left press while zoomed that moves less than this (device pixels) is a click, not a pan.
constexpr double kDragSlack = 3.0;
// The pass for the worst pairs reports its progress this often.
constexpr int kPassProgressMs = 250;

// A finished job may still be the sender of the signal being handled: it goes later (or with the
// window, its parent).
void retire(std::unique_ptr<BackgroundJob> &job)
{
    if (job)
        job.release()->deleteLater();
}

// Clears a flag when the scope ends, whichever way it ends.
struct FlagGuard {
    bool &flag;
    explicit FlagGuard(bool &f) : flag(f) { flag = true; }
    ~FlagGuard() { flag = false; }
};

} // namespace

Player::Player(const QString &name, QWindow *parent, int offset)
    : GlWindow(parent)
{
    Q_UNUSED(name);
    construct(nullptr, offset);
}

Player::Player(const Clips &clips, QWindow *parent)
    : GlWindow(parent)
    , m_NoMessageBox(clips.fromCommandLine)
{
    construct(&clips, clips.offset);
}

Player::~Player()
{
    // The background work first (it reads nothing of ours, but its results would come to a
    // window that is going), then the pictures kept for steps, which belong to the decoders' pools.
    m_Measure.reset();
    m_Pass.reset();
    m_Align.reset();
    if (m_Steps)
        m_Steps->stop();
    if (m_RenderTimer)
        m_RenderTimer->stop();
    // The worker threads must be gone before anything they could still touch, and neither may
    // keep reading while the other is being torn down.
    if (m_Decoder1)
        m_Decoder1->stop();
    if (m_Decoder2)
        m_Decoder2->stop();
    m_Primary = nullptr;
    m_Decoder1.reset();
    m_Decoder2.reset();
    if (isValid()) {
        makeCurrent();
        m_Renderer1.release();
        m_Renderer2.release();
        m_Drawer.release();
        doneCurrent();
    }
}

QSurfaceFormat Player::surfaceFormat()
{
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setDepthBufferSize(24);
    format.setSwapInterval(1);
    return format;
}

void Player::construct(const Clips *clips, int offset)
{
    m_Pairing.setOffset(offset);
    setWindowTitle(PairingReadout::programName());
    setFormat(surfaceFormat());
    m_Clock.start();

    // The pictures on screen, for drawing them afresh (another window size, the clip switched,
    // the CPU path converting at the paint): the steps' pair while stepping, else the schedulers'.
    m_Renderer1.setPictureSource([this] { return shownPicture(0); });
    m_Renderer2.setPictureSource([this] { return shownPicture(1); });
    // No picture target for the decoders: the pictures stay whole, as decoded, because the steps,
    // the figures of the pair and the pixel readout are taken from them. Under a software GL the
    // plain view still converts them on the CPU (in the window rather than in the decoder).
    m_RenderTimer = new QTimer(this);
    m_RenderTimer->setTimerType(Qt::PreciseTimer);
    connect(m_RenderTimer, &QTimer::timeout, this, &Player::timerEventCus);
    m_StepTimer = new QTimer(this);
    connect(m_StepTimer, &QTimer::timeout, this, &Player::pollSteps);
    m_Pairing.readout().setOffset(offset);

    m_FileName1 = chooseFile(clips, true);
    m_Decoder1 = std::make_unique<DecoderAgent>(nullptr, EngineOptions::framewise());
    m_FileName2 = chooseFile(clips, false);
    m_Decoder2 = std::make_unique<DecoderAgent>(nullptr, EngineOptions::framewise());

    // The second clip is checked first: when both fail only the second is named.
    if (!openClip(*m_Decoder2, m_FileName2))
        return;
    if (!openClip(*m_Decoder1, m_FileName1))
        return;

    // The picture path, and what the decoders should make of the pictures for it, before the
    // first picture is decoded.
    const QSize view = size() * devicePixelRatioF();
    m_Renderer1.prepare(view);
    m_Renderer2.prepare(view);
    m_Primary = m_Decoder1.get();
    m_Pictures1.setDecoder(m_Primary);
    m_Pictures2.setDecoder(m_Decoder2.get());
    m_Feed1 = std::make_unique<DecoderFeed>(m_Decoder1.get());
    m_Feed2 = std::make_unique<DecoderFeed>(m_Decoder2.get());
    m_Steps = std::make_unique<StepPlanner>(m_Feed1.get(), m_Feed2.get(), &m_Pairing.timing());
    newFileToCheck();
}

QString Player::chooseFile(const Clips *clips, bool first)
{
    if (clips && !(first ? clips->first : clips->second).isEmpty())
        return first ? clips->first : clips->second;
    return ClipDialog::ask(tr("Open Video"), tr("Video Files (*.mp4 *.mpg *.mkv)"),
                           paths::framewiseDialogFolder());
}

bool Player::openClip(DecoderAgent &decoder, const QString &fileName)
{
    if (decoder.open(fileName))
        return true;
    m_OpenFailed = true;
    if (m_NoMessageBox) {
        std::fprintf(stderr, "framewise: cannot open %s\n", qPrintable(fileName));
        return false;
    }
    QMessageBox::critical(nullptr, QStringLiteral("Cannot open file"),
                          QStringLiteral("The file %1 cannot be opened").arg(fileName),
                          QMessageBox::Ok, QMessageBox::NoButton);
    return false;
}

void Player::newFileToCheck()
{
    if (!m_Primary || !m_Decoder2)
        return;
    m_Picture1Width = m_Primary->videoWidth();
    m_Picture1Height = m_Primary->videoHeight();
    m_Picture2Width = m_Decoder2->videoWidth();
    m_Picture2Height = m_Decoder2->videoHeight();
    m_Renderer1.setPictureSize(pictureSize1());
    m_Renderer2.setPictureSize(pictureSize2());

    // Used as the clip reports it; a rate of 0 (none usable) paces at 25 pictures a second.
    const double rate = m_Primary->frameRate();
    qDebug() << "FPS" << rate;
    const int interval = m_Pairing.setFrameRate(rate, m_Decoder2->frameRate());
    qDebug() << "FPS DELAY" << interval;
    qDebug() << "FileAccessView::OPENED";

    m_Primary->start();
    m_Decoder2->start();
    QTimer::singleShot(kSettleMs, this, &Player::startRendering);
}

void Player::startRendering()
{
    if (m_RenderTimer && !m_RenderTimer->isActive())
        m_RenderTimer->start(kRenderPeriodMs);
}

void Player::stopRendering()
{
    if (m_RenderTimer)
        m_RenderTimer->stop();
}

void Player::upload(PictureRenderer &renderer, const PixelPacket &picture)
{
    // Before the window was first shown there is no context (and no texture) yet.
    if (!isValid())
        return;
    makeCurrent();
    renderer.upload(picture);
    doneCurrent();
}

void Player::timerEventCus()
{
    if (m_InTick || !m_Primary || !m_Decoder2)
        return;
    FlagGuard inTick(m_InTick);
    // A change the throttle held back goes out now, even when no picture is due.
    refreshTitle();

    const ClipPairing::Tick tick = m_Pairing.tick(m_Clock.elapsed(), m_Pictures1, m_Pictures2);
    if (!tick.request)
        return;
    if (tick.outcome == FramePacer::Outcome::Drop) {
        qDebug("%s", tick.trace.constData());
        return;
    }
    if (tick.outcome == FramePacer::Outcome::Repeat) {
        debugOutput(tick.trace.constData());
        return;
    }
    // The pictures belong to the decoders' schedulers and stay valid until their next request.
    upload(m_Renderer1, *m_Pictures1.current());
    qDebug() << "PAcket V1" << tick.time1;
    if (tick.skipped)
        qDebug() << ClipPairing::skipLine();
    if (tick.paired)
        qDebug() << "PAcket V2" << tick.time2;
    if (tick.secondMoved)
        upload(m_Renderer2, *m_Pictures2.current());
    update();
    refreshTitle();
}

void Player::refreshTitle()
{
    const qint64 now = m_Clock.elapsed();
    if (m_Pairing.readout().titleDue(now))
        setWindowTitle(m_Pairing.readout().takeTitle(now));
}

void Player::correctFrame()
{
    // Nothing to realign: both decoders stamp every picture with its own presentation time, so
    // after a seek the clips compare correctly as they are, whichever of them reorders pictures.
    // Where they landed on different pictures the pairing skips or holds the second clip.
    startRendering();
    // Pictures move again, even when a pause came before the seek (the next space still takes
    // the resume branch).
    m_Pairing.readout().setPaused(false);
    refreshTitle();
}

void Player::seekClick(int x)
{
    stopRendering();
    // The pictures kept for steps are of the old position; the seek starts the queues afresh.
    m_Steps->stop();
    m_Decoder1->setReadAhead(0);
    m_Decoder2->setReadAhead(0);
    m_StepTimer->stop();
    m_Pictures1.skipThrough(-INFINITY);
    m_Pictures2.skipThrough(-INFINITY);
    const int w = width();
    const qint64 d = m_Primary->duration();
    // The clicked fraction, counted in integers so that the truncation is exact; the last pixel
    // column stays below the duration.
    auto secondAt = [w, x](qint64 duration) -> int {
        if (w <= 0 || duration <= 0)
            return 0;
        return int(duration * std::clamp(x, 0, w - 1) / w);
    };
    const int target = secondAt(d);
    m_Primary->seek(target);
    m_Decoder2->seek(secondAt(m_Primary->duration()));
    m_Pairing.seeked(target);
    QTimer::singleShot(kSettleMs, this, &Player::correctFrame);
    m_ClickTarget = target;
    qDebug() << "vado sono su " << m_ClickTarget;
    refreshTitle();
}

void Player::showingChanged()
{
    m_Pairing.readout().setShowing(m_ShowFirst ? PairingReadout::First : PairingReadout::Second);
    refreshTitle();
}

void Player::mousePressEvent(QMouseEvent *event)
{
    if (!m_Primary)
        return;
    if (event->button() == Qt::RightButton) {
        seekClick(int(event->position().x()));
    } else if (event->button() == Qt::LeftButton && m_Zoom.isZoomed()) {
        // Zoomed, a press may begin a pan: the release tells a click from a drag.
        m_Dragging = true;
        m_DragMoved = false;
        m_DragLast = event->position() * devicePixelRatioF();
    } else if (event->button() == Qt::LeftButton) {
        m_ShowFirst = !m_ShowFirst;
        update();
        showingChanged();
    }
}

void Player::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_Dragging)
        return;
    m_Dragging = false;
    if (!m_DragMoved) {
        m_ShowFirst = !m_ShowFirst;
        update();
        showingChanged();
    }
}

void Player::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF at = event->position() * devicePixelRatioF();
    if (m_Dragging) {
        const QPointF delta = at - m_DragLast;
        m_DragMoved = m_DragMoved || std::abs(delta.x()) + std::abs(delta.y()) > kDragSlack;
        if (m_DragMoved) {
            updateZoomBase();
            m_Zoom.pan(delta);
            m_DragLast = at;
        }
    }
    m_Cursor = at;
    updateSample();
    if (!plainView())
        update();
    refreshTitle();
}

void Player::wheelEvent(QWheelEvent *event)
{
    if (!m_Primary)
        return;
    updateZoomBase();
    m_Zoom.zoomAt(event->position() * devicePixelRatioF(), event->angleDelta().y() / 120.0);
    choosePicturePaths();
    m_Pairing.readout().setView(m_View, m_Zoom.zoom());
    updateSample();
    update();
    refreshTitle();
}

void Player::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A double click does nothing of its own, so it switches the clip once, by its first press.
    // Its second press comes only as this event (QWidget's default would pass it on as a press
    // and switch the clip back).
    event->accept();
}

void Player::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_F:
        if (isFullScreen())
            showNormal();
        else
            showFullScreen();
        return;
    case Qt::Key_Space:
        togglePause();
        return;
    default:
        break;
    }
    if (!m_Primary) {
        GlWindow::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Period:
        step(&StepPlanner::forward);
        return;
    case Qt::Key_Comma:
        step(&StepPlanner::back);
        return;
    case Qt::Key_BracketRight:
        changeOffset(1);
        return;
    case Qt::Key_BracketLeft:
        changeOffset(-1);
        return;
    case Qt::Key_A:
        searchOffset();
        return;
    case Qt::Key_W:
        nextWorstPair();
        return;
    case Qt::Key_0:
        m_Zoom.reset();
        setView(m_View);
        return;
    case Qt::Key_D:
        setView(m_View == PairingReadout::View::Difference ? PairingReadout::View::Plain : PairingReadout::View::Difference);
        return;
    case Qt::Key_V:
        setView(m_View == PairingReadout::View::Split ? PairingReadout::View::Plain : PairingReadout::View::Split);
        return;
    default:
        GlWindow::keyPressEvent(event);
    }
}

void Player::togglePause()
{
    if (!m_Primary)
        return;
    if (!m_Paused) {
        stopRendering();
        m_Decoder2->pause();
        m_Decoder1->pause();
        m_Paused = true;
    } else {
        stopStepping();
        startRendering();
        m_Decoder1->start();
        m_Decoder2->start();
        m_Paused = false;
    }
    m_Pairing.readout().setPaused(m_Paused);
    // Paused, the pair on screen is kept for steps and measured.
    if (m_Paused)
        ensureStepping();
    refreshTitle();
}

bool Player::ensureStepping()
{
    if (!m_Primary)
        return false;
    if (!m_Paused)
        togglePause();
    if (m_Steps->isActive())
        return true;
    const PixelPacket *first = m_Pictures1.current();
    const PixelPacket *second = m_Pictures2.current();
    if (!first || !second)
        return false;   // nothing shown yet
    // After a right click while paused the pictures were moving again.
    stopRendering();
    m_Decoder1->setReadAhead(kStepReadAhead);
    m_Decoder2->setReadAhead(kStepReadAhead);
    m_Steps->start(ClipCursor::copyOf(*first), ClipCursor::copyOf(*second), StepBudgetBytes);
    // Paused just after a resume or a seek the second clip may still hold a picture from before
    // (its next was not decoded in time): the pair to examine is the one the pairing gives.
    // (Not a step of the user's: no "step shown" line times it.)
    // The pair is measured when it is shown (now, or when the repair's picture comes).
    m_Steps->repair();
    m_StepWaitSince = m_Clock.elapsed();
    pollSteps();
    return true;
}

void Player::stopStepping()
{
    if (!m_Steps->isActive())
        return;
    m_StepTimer->stop();
    m_Steps->cancel();
    // Playback goes on after the pair on screen: each queue from the picture after it, where the
    // kept pictures went past it or the queue no longer follows them, after a seek back to it.
    DecoderPictures *pictures[2] = {&m_Pictures1, &m_Pictures2};
    DecoderFeed *feeds[2] = {m_Feed1.get(), m_Feed2.get()};
    for (int clip : {0, 1}) {
        const ClipCursor &cursor = m_Steps->cursor(clip);
        const PixelPacket *shown = cursor.current();
        if (!shown)
            continue;
        if (!cursor.continuesIntoFeed() || !cursor.atLast())
            feeds[clip]->seekTo(shown->m_Time, SeekMode::Exact);
        pictures[clip]->skipThrough(shown->m_Time);
    }
    if (const PixelPacket *second = m_Steps->second())
        m_Pairing.resumedAt(second->m_Time);
    m_Steps->stop();
    m_Decoder1->setReadAhead(0);
    m_Decoder2->setReadAhead(0);
    m_Pairing.readout().setActivity(QString());
}

void Player::step(void (StepPlanner::*command)())
{
    if (!ensureStepping())
        return;
    // The user's own step: what the title said of an earlier one (or of an alignment) is old news.
    // (Pairs fetched for other reasons, a new offset's or a pause's, leave it standing.)
    m_Pairing.readout().setActivity(QString());
    stepQueued();
    (m_Steps.get()->*command)();
    pollSteps();
}

void Player::stepQueued()
{
    if (m_Steps->busy())
        return;
    m_StepAskedAt = m_Clock.elapsed();
    m_StepWaitSince = m_StepAskedAt;
}

void Player::pollSteps()
{
    if (!m_Steps->isActive()) {
        m_StepTimer->stop();
        return;
    }
    if (m_Steps->poll()) {
        m_StepWaitSince = m_Clock.elapsed();
        showSteppedPair();
    }
    if (!m_Steps->busy()) {
        // Reading ahead for the steps back to come goes on between steps.
        if (!m_Steps->prefetching())
            m_StepTimer->stop();
        else if (!m_StepTimer->isActive())
            m_StepTimer->start(kStepPollMs);
        return;
    }
    if (m_Clock.elapsed() - m_StepWaitSince > kStepGiveUpMs) {
        // No picture comes: the clip has ended there (or a decoder is stuck).
        m_Steps->cancel();
        m_StepTimer->stop();
        m_StepAskedAt = -1;
        m_Pairing.readout().setActivity(QStringLiteral("no further picture"));
        refreshTitle();
        return;
    }
    if (!m_StepTimer->isActive())
        m_StepTimer->start(kStepPollMs);
}

void Player::showSteppedPair()
{
    const PixelPacket *first = m_Steps->first();
    const PixelPacket *second = m_Steps->second();
    if (!first || !second)
        return;
    upload(m_Renderer1, *first);
    upload(m_Renderer2, *second);
    const StepPlanner::Moves moves = m_Steps->takeMoves();
    const PairTiming &timing = m_Pairing.timing();
    PairingReadout &readout = m_Pairing.readout();
    readout.stepped(PairingReadout::First, timing.relative(StartAlignment::First, first->m_Time), moves.clip[0]);
    readout.stepped(PairingReadout::Second, timing.relative(StartAlignment::Second, second->m_Time), moves.clip[1]);
    readout.paired(PairingReadout::Pairing::InStep);
    m_StepShownPending = true;
    update();
    measurePair();
    updateSample();
    refreshTitle();
}

void Player::changeOffset(int delta)
{
    setOffset(m_Pairing.timing().offset() + delta);
}

void Player::setOffset(int offset)
{
    const int old = m_Pairing.timing().offset();
    if (offset == old)
        return;
    m_Pairing.setOffset(offset);
    m_Pairing.readout().setOffset(offset);
    if (m_Steps->isActive()) {
        stepQueued();
        m_Steps->repair();
        pollSteps();
    } else if (const PixelPacket *first = m_Pictures1.current(); first && offset > old) {
        // Later, the second clip needs pictures from before its queue: it is sought back and
        // catches up from there. (Earlier, the pairing passes over the pictures between.)
        const PairTiming &t = m_Pairing.timing();
        const qint64 limit = t.limitUs(first->m_Time);
        m_Feed2->seekTo(t.stamped(StartAlignment::Second, limit / 1e6) - t.secondInterval(), SeekMode::Exact);
        m_Pictures2.skipThrough(-INFINITY);
        m_Pairing.secondSeeked();
    }
    refreshTitle();
}

void Player::searchOffset()
{
    const PixelPacket *first = shownPicture(0);
    if ((m_Align && m_Align->isRunning()) || !first)
        return;
    auto result = std::make_shared<std::optional<OffsetSearch::Result>>();
    m_Align = std::make_unique<BackgroundJob>(
        [firstClip = m_FileName1, secondClip = m_FileName2, timing = m_Pairing.timing(), stamp = first->m_Time,
         result](BackgroundJob &job) {
            ClipComparison comparison(firstClip, secondClip);
            if (comparison.open())
                *result = comparison.searchOffset(timing, stamp, job.cancelFlag());
        },
        this);
    connect(m_Align.get(), &QThread::finished, this, [this, result] {
        retire(m_Align);
        if (*result && (*result)->found) {
            setOffset((*result)->offset);
            m_Pairing.readout().setActivity(QStringLiteral("aligned at luma PSNR %1 dB")
                                                .arg((*result)->meanPsnrY, 0, 'f', 2));
        } else {
            m_Pairing.readout().setActivity(QStringLiteral("no offset found"));
        }
        refreshTitle();
    });
    m_Pairing.readout().setActivity(QStringLiteral("aligning"));
    refreshTitle();
    m_Align->start();
}

void Player::nextWorstPair()
{
    if (m_Pass && m_Pass->isRunning())
        return;
    const int offset = m_Pairing.timing().offset();
    if (!m_PassDone || m_WorstPassOffset != offset) {
        // Every pair, measured on decoders of the pass's own: the window plays on meanwhile.
        auto rows = std::make_shared<QList<PairRow>>();
        m_Pass = std::make_unique<BackgroundJob>([first = m_FileName1, second = m_FileName2, offset, rows](BackgroundJob &job) {
            ClipComparison comparison(first, second);
            if (!comparison.open())
                return;
            ClipComparison::Options options;
            options.offset = offset;
            options.row = [&rows](const PairRow &row) { rows->append(row); };
            options.progress = [&job](double fraction) { job.progress(fraction); };
            options.progressEveryMs = kPassProgressMs;
            options.cancel = job.cancelFlag();
            comparison.run(options);
        }, this);
        connect(m_Pass.get(), &BackgroundJob::progressed, this, [this](double fraction) {
            m_Pairing.readout().setPassProgress(fraction);
            refreshTitle();
        });
        connect(m_Pass.get(), &QThread::finished, this, [this, rows, offset] {
            retire(m_Pass);
            m_WorstRows.clear();
            for (int index : CompareReport::worstFirst(*rows))
                m_WorstRows << rows->at(index);
            m_PassDone = true;
            m_WorstPassOffset = offset;
            m_WorstNext = 0;
            nextWorstPair();
        });
        m_Pairing.readout().setPassProgress(0.0);
        refreshTitle();
        m_Pass->start();
        return;
    }
    if (m_WorstRows.isEmpty()) {
        m_Pairing.readout().setWorstShown(0, 0);
        refreshTitle();
        return;
    }
    const int index = m_WorstNext++ % int(m_WorstRows.size());
    if (!ensureStepping())
        return;
    stepQueued();
    m_Steps->jumpTo(m_Pairing.timing().stamped(StartAlignment::First, m_WorstRows.at(index).firstS));
    m_Pairing.readout().setWorstShown(index + 1, int(m_WorstRows.size()));
    pollSteps();
}

void Player::measurePair()
{
    const PixelPacket *first = m_Steps->first();
    const PixelPacket *second = m_Steps->second();
    if (!m_Steps->isActive() || !first || !second)
        return;
    if (m_Measure && m_Measure->isRunning()) {
        m_MeasureAgain = true;
        return;
    }
    m_Pairing.readout().setScores(std::nullopt);
    // Copies: the kept pictures may go while the filters run.
    auto frames = std::make_shared<std::pair<FramePtr, FramePtr>>(PictureMetrics::frame(*first), PictureMetrics::frame(*second));
    auto scores = std::make_shared<std::optional<PairScores>>();
    m_Measure = std::make_unique<BackgroundJob>([frames, scores](BackgroundJob &) {
        PictureMetrics metrics;
        *scores = metrics.measure(std::move(frames->first), std::move(frames->second));
    }, this);
    connect(m_Measure.get(), &QThread::finished, this, [this, scores] {
        retire(m_Measure);
        if (m_MeasureAgain) {
            m_MeasureAgain = false;
            measurePair();
        } else if (m_Steps->isActive()) {
            m_Pairing.readout().setScores(*scores);
        }
        refreshTitle();
    });
    m_Measure->start();
}

const PixelPacket *Player::shownPicture(int clip) const
{
    if (m_Steps && m_Steps->isActive())
        return clip == 0 ? m_Steps->first() : m_Steps->second();
    return clip == 0 ? m_Pictures1.current() : m_Pictures2.current();
}

QSize Player::viewSize() const
{
    const qreal ratio = devicePixelRatioF();
    return QSize(int(width() * ratio), int(height() * ratio));
}

bool Player::plainView() const
{
    return m_View == PairingReadout::View::Plain && !m_Zoom.isZoomed();
}

void Player::choosePicturePaths()
{
    // Zoom, difference and split sample both clips' planes in a shader of their own; the plain
    // view may take the CPU path.
    const PicturePathChoice::View view = plainView() ? PicturePathChoice::View::Fitted : PicturePathChoice::View::ShaderOnly;
    m_Renderer1.setView(view);
    m_Renderer2.setView(view);
}

void Player::updateZoomBase()
{
    const QSize view = viewSize();
    QRectF fitted, region;
    ZoomGeometry::baseOf(QuadGeometry::forView(pictureSize1(), view.width(), view.height(), m_Renderer1.aspect()), fitted, region);
    m_Zoom.setBase(fitted, region);
}

void Player::updateSample()
{
    PairingReadout &readout = m_Pairing.readout();
    const PixelPacket *first = shownPicture(0);
    const PixelPacket *second = shownPicture(1);
    if (m_Cursor.x() < 0 || !first) {
        readout.setSample(std::nullopt);
        return;
    }
    updateZoomBase();
    const std::optional<QPoint> pixel = m_Zoom.pictureAt(m_Cursor);
    if (!pixel) {
        readout.setSample(std::nullopt);
        return;
    }
    PairingReadout::Sample sample;
    sample.pixel = *pixel;
    sample.values[0] = PairingReadout::sampleAt(*first, *pixel);
    // The second clip's pixel at the same fraction of its picture.
    if (second && first->m_Width > 0 && first->m_Height > 0)
        sample.values[1] = PairingReadout::sampleAt(
            *second, QPoint(pixel->x() * second->m_Width / first->m_Width, pixel->y() * second->m_Height / first->m_Height));
    readout.setSample(sample);
}

void Player::setView(PairingReadout::View view)
{
    m_View = view;
    choosePicturePaths();
    m_Pairing.readout().setView(m_View, m_Zoom.zoom());
    update();
    refreshTitle();
}

void Player::initializeGL()
{
    m_Renderer1.initialize(pictureSize1());
    m_Renderer2.initialize(pictureSize2());
    m_Drawer.initialize();
}

void Player::resizeGL(int width, int height)
{
    const qreal ratio = devicePixelRatioF();
    // Viewport and matrices are the context's; each renderer also keeps the size it draws for.
    m_Renderer1.resize(int(width * ratio), int(height * ratio));
    m_Renderer2.resize(int(width * ratio), int(height * ratio));
}

void Player::paintGL()
{
    const QSize view = viewSize();
    if (plainView()) {
        if (m_ShowFirst)
            m_Renderer1.paint(view.width(), view.height(), PictureRenderer::Indicator::First);
        else
            m_Renderer2.paint(view.width(), view.height(), PictureRenderer::Indicator::Second);
    } else {
        m_Renderer1.holdPlanes();
        m_Renderer2.holdPlanes();
        updateZoomBase();
        const ComparisonDrawer::Mode mode = m_View == PairingReadout::View::Difference ? ComparisonDrawer::Mode::Difference
            : m_View == PairingReadout::View::Split                                    ? ComparisonDrawer::Mode::Split
            : m_ShowFirst                                                              ? ComparisonDrawer::Mode::First
                                                                                       : ComparisonDrawer::Mode::Second;
        m_Drawer.draw(m_Renderer1, m_Renderer2, mode, m_Zoom.region(), m_Zoom.shown(), view, m_Zoom.squares(),
                      m_Cursor.x() >= 0 ? m_Cursor.x() : view.width() / 2.0);
        const QuadGeometry plain = QuadGeometry::forView(pictureSize1(), view.width(), view.height(), m_Renderer1.aspect());
        if (plain.isDrawable())
            m_Drawer.drawIndicator(plain, !m_ShowFirst);
    }
    if (m_StepShownPending) {
        m_StepShownPending = false;
        if (m_StepAskedAt >= 0)
            qDebug() << "step shown" << m_Clock.elapsed() - m_StepAskedAt << "ms";
        m_StepAskedAt = m_Steps && m_Steps->busy() ? m_Clock.elapsed() : -1;
    }
}

void Player::slotSeekTest()
{
    if (!m_Primary)
        return;
    const qint64 d = m_Primary->duration();
    if (d <= kSeekTestTailSeconds) {
        // No range to choose from (and no modulus by zero or less).
        qDebug() << "richiedo" << "nothing: a random seek needs a clip longer than"
                 << kSeekTestTailSeconds << "s, this one has" << d;
        return;
    }
    m_SeekTarget = int(qint64(std::rand()) % (d - kSeekTestTailSeconds));
    qDebug() << "richiedo" << m_SeekTarget;
    m_Primary->seek(m_SeekTarget);
}

void Player::slotSeekDone()
{
    if (!m_Primary)
        return;
    const qint64 position = m_Primary->position();
    qDebug() << "ora sono su " << position;
    qDebug() << "sono" << m_ClickTarget - position;
}
