#include "player.h"

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
#include <QtDebug>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kRenderPeriodMs = 4;
// Pictures start to be shown, and rendering resumes after a seek, this long after the decoders
// were (re)started, so that both picture queues have filled meanwhile.
constexpr int kSettleMs = 1000;
// Random seeks never ask for the clip's last seconds.
constexpr qint64 kSeekTestTailSeconds = 30;

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

    m_RenderTimer = new QTimer(this);
    m_RenderTimer->setTimerType(Qt::PreciseTimer);
    connect(m_RenderTimer, &QTimer::timeout, this, &Player::timerEventCus);

    m_FileName1 = chooseFile(clips, true);
    m_Decoder1 = std::make_unique<DecoderAgent>(nullptr, EngineOptions::framewise());
    m_FileName2 = chooseFile(clips, false);
    m_Decoder2 = std::make_unique<DecoderAgent>(nullptr, EngineOptions::framewise());

    // The second clip is checked first: when both fail only the second is named.
    if (!openClip(*m_Decoder2, m_FileName2))
        return;
    if (!openClip(*m_Decoder1, m_FileName1))
        return;

    m_Primary = m_Decoder1.get();
    m_Pictures1.setDecoder(m_Primary);
    m_Pictures2.setDecoder(m_Decoder2.get());
    newFileToCheck();
}

QString Player::chooseFile(const Clips *clips, bool first)
{
    if (clips)
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
    } else if (event->button() == Qt::LeftButton) {
        m_ShowFirst = !m_ShowFirst;
        update();
        showingChanged();
    }
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
        if (!m_Primary)
            return;
        if (!m_Paused) {
            stopRendering();
            m_Decoder2->pause();
            m_Decoder1->pause();
            m_Paused = true;
        } else {
            startRendering();
            m_Decoder1->start();
            m_Decoder2->start();
            m_Paused = false;
        }
        m_Pairing.readout().setPaused(m_Paused);
        refreshTitle();
        return;
    default:
        GlWindow::keyPressEvent(event);
    }
}

void Player::initializeGL()
{
    m_Renderer1.initialize(pictureSize1());
    m_Renderer2.initialize(pictureSize2());
}

void Player::resizeGL(int width, int height)
{
    const qreal ratio = devicePixelRatioF();
    // Viewport and matrices are the context's: one renderer sets them for both.
    m_Renderer1.resize(int(width * ratio), int(height * ratio));
}

void Player::paintGL()
{
    const qreal ratio = devicePixelRatioF();
    const int w = int(width() * ratio);
    const int h = int(height() * ratio);
    if (m_ShowFirst)
        m_Renderer1.paint(w, h, PictureRenderer::Indicator::First);
    else
        m_Renderer2.paint(w, h, PictureRenderer::Indicator::Second);
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
