#include "seeksession.h"

#include <cstdlib>
#include <utility>

SeekSession::SeekSession(SeekReadCounter *reads, Options options, std::function<int()> random)
    : m_Reads(reads)
    , m_Options(options)
    , m_Random(random ? std::move(random) : [] { return std::rand(); })
{
}

void SeekSession::say(const QString &text)
{
    Action a;
    a.text = text;
    m_Out.push_back(a);
}

void SeekSession::retitle()
{
    Action a;
    a.kind = Action::Kind::Retitle;
    a.text = titleText();
    m_Out.push_back(a);
}

QString SeekSession::titleText() const
{
    return m_Run.isActive() ? m_Run.progress(m_Stats.seekCount()) : m_Note;
}

SeekReadCounter::Count SeekSession::reads() const
{
    return m_Reads ? m_Reads->count() : SeekReadCounter::Count();
}

SeekSession::Actions SeekSession::closing()
{
    m_Out.clear();
    if (m_Watch.isArmed()) {
        m_Watch.cancel();
        m_Run.seekAbandoned();
    }
    m_ClickWatch.cancel();
    m_ReopenAfterRow = false;
    finishRow();
    return std::exchange(m_Out, {});
}

SeekSession::Actions SeekSession::opened(const Clip &clip, qint64 nowMs)
{
    m_Out.clear();
    m_Clip = clip;
    if (clip.opened) {
        m_Note.clear();
    } else {
        m_Note = QStringLiteral("cannot open: %1").arg(clip.failure);
        m_Run.stop();
    }
    retitle();
    if (std::exchange(m_DeferredClick, false) && clip.opened)
        click(nowMs, m_DeferredX, m_DeferredWidth);
    return std::exchange(m_Out, {});
}

SeekSession::Actions SeekSession::keyT(qint64 nowMs)
{
    m_Out.clear();
    if (m_Run.isActive()) {
        say(QStringLiteral("seek test stopped"));
        stopRun(QString());
    } else if (m_Clip.opened) {
        const SeekStats::Target range = SeekStats::randomTarget(0, durationSeconds());
        if (!range.valid) {
            say(range.reason);
            m_Note = range.reason;
        } else {
            m_Note.clear();
            m_Run.start(nowMs);
            say(QStringLiteral("seek test started"));
        }
        retitle();
    }
    return std::exchange(m_Out, {});
}

SeekSession::Actions SeekSession::paused()
{
    m_Out.clear();
    if (m_Run.isActive()) {
        say(QStringLiteral("seek test stopped"));
        stopRun(QString());
    }
    return std::exchange(m_Out, {});
}

void SeekSession::stopRun(const QString &note)
{
    // A seek still on its way is not measured: nobody waits for it any more.
    m_Watch.cancel();
    if (!m_PendingRow.hasLanded())
        finishRow();
    m_Run.stop();
    m_Note = note;
    retitle();
}

SeekSession::Actions SeekSession::rightClick(qint64 nowMs, int x, int width)
{
    m_Out.clear();
    if (!m_Clip.opened)
        return {};
    if (m_ReopenAfterRow) {
        // The batch's reopen comes first; the click seeks in the fresh clip.
        m_DeferredClick = true;
        m_DeferredX = x;
        m_DeferredWidth = width;
        m_ReopenAfterRow = false;
        finishRow();
        reopen();
        return std::exchange(m_Out, {});
    }
    click(nowMs, x, width);
    return std::exchange(m_Out, {});
}

void SeekSession::click(qint64 nowMs, int x, int width)
{
    // The click's seek replaces any random one on its way: a run ends here.
    if (m_Run.isActive()) {
        say(QStringLiteral("seek test stopped"));
        stopRun(QString());
    }
    const qint64 target = SeekStats::clickTarget(durationSeconds(), x, width);
    m_ClickTarget = target;
    ask(nowMs, target, true);
    say(QStringLiteral("vado sono su  %1").arg(target));
    say(QStringLiteral("seek asked at %1").arg(nowMs));
}

SeekSession::Actions SeekSession::seekTo(qint64 nowMs, qint64 target)
{
    m_Out.clear();
    m_SeekTarget = target;
    say(QStringLiteral("richiedo %1").arg(target));
    m_ClickWatch.cancel();
    ask(nowMs, target, false);
    return std::exchange(m_Out, {});
}

void SeekSession::randomSeek(qint64 nowMs)
{
    if (!m_Clip.opened)
        return;
    const SeekStats::Target range = SeekStats::randomTarget(0, durationSeconds());
    if (!range.valid) {
        // Checked before drawing, so a refused test leaves the sequence of targets as it was.
        say(range.reason);
        stopRun(range.reason);
        return;
    }
    m_SeekTarget = SeekStats::randomTarget(m_Random(), durationSeconds()).seconds;
    say(QStringLiteral("richiedo %1").arg(m_SeekTarget));
    m_ClickWatch.cancel();
    ask(nowMs, m_SeekTarget, false);
    if (m_Run.isActive())
        m_Run.seekAsked();
    retitle();
}

void SeekSession::ask(qint64 nowMs, qint64 target, bool click)
{
    finishRow();
    if (m_Reads)
        m_Reads->restart();
    const QString batch = click ? QString::fromLatin1(SeekRow::ClickBatch) : QString::number(m_Run.batchesDone() + 1);
    m_PendingRow.begin(batch, target, nowMs, m_Clip.frameRate);
    m_ClickAsked = click;
    Action a;
    a.kind = Action::Kind::SeekTo;
    a.seconds = target;
    a.click = click;
    m_Out.push_back(a);
}

void SeekSession::seekStarted(qint64 nowMs, qint64 clockMs)
{
    (m_ClickAsked ? m_ClickWatch : m_Watch).arm(nowMs, clockMs, m_Clip.hasAudio);
}

SeekSession::Actions SeekSession::seekDone(qint64 clockMs, bool stillPending)
{
    m_Out.clear();
    const qint64 position = positionOf(clockMs);
    say(QStringLiteral("ora sono su  %1").arg(position));
    say(QStringLiteral("sono %1").arg(m_ClickTarget - position));
    // A seekDone of an earlier seek may still have been queued when the watched one was asked for.
    if (!stillPending) {
        m_Watch.seekDone(clockMs);
        m_ClickWatch.seekDone(clockMs);
    }
    return std::exchange(m_Out, {});
}

SeekSession::Actions SeekSession::seekFailed(qint64 nowMs)
{
    m_Out.clear();
    if (m_Watch.isArmed()) {
        m_Watch.cancel();
        failed(nowMs, QStringLiteral("failed: the decoder could not seek"));
    } else if (m_ClickWatch.isArmed()) {
        m_ClickWatch.cancel();
        finishRow();   // not landed: not measured
    }
    return std::exchange(m_Out, {});
}

void SeekSession::failed(qint64 nowMs, const QString &why)
{
    finishRow();   // not landed: not measured
    say(QStringLiteral("seek to %1 %2 - failed seeks: %3")
            .arg(m_SeekTarget)
            .arg(why)
            .arg(m_Run.failedSeeks() + 1));
    if (m_Run.failed(nowMs)) {
        say(m_Run.stopReason());
        m_Note = m_Run.stopReason();
    }
    retitle();
}

SeekSession::Actions SeekSession::tick(qint64 nowMs, qint64 clockMs)
{
    m_Out.clear();
    switch (m_ClickWatch.poll(nowMs, clockMs, m_Clip.durationMs)) {
    case LandingWatch::State::Landed:
        m_PendingRow.landed(positionOf(clockMs));
        if (m_PendingRow.isComplete())
            finishRow();
        break;
    case LandingWatch::State::TimedOut:
        finishRow();   // not landed: not measured
        break;
    default:
        break;
    }
    if (m_ReopenAfterRow) {
        if (!m_PendingRow.isOpen() || m_PendingRow.hasPicture() || nowMs >= m_ReopenDeadline) {
            m_ReopenAfterRow = false;
            finishRow();
            reopen();
        }
        return std::exchange(m_Out, {});
    }
    switch (m_Watch.poll(nowMs, clockMs, m_Clip.durationMs)) {
    case LandingWatch::State::Landed:
        reportSeek(nowMs, clockMs);
        break;
    case LandingWatch::State::TimedOut:
        failed(nowMs, QStringLiteral("did not land within %1 ms: %2")
                          .arg(LandingWatch::TimeoutMs)
                          .arg(m_Watch.seekDoneSeen() ? QStringLiteral("the clock did not move")
                                                      : QStringLiteral("no seekDone")));
        break;
    default:
        break;
    }
    // A Reopen stays last; the fresh clip's first seek waits for the pause after the landing anyway.
    if (!m_Out.empty() && m_Out.back().kind == Action::Kind::Reopen)
        return std::exchange(m_Out, {});
    if (m_Run.seekDue(nowMs))
        randomSeek(nowMs);
    return std::exchange(m_Out, {});
}

void SeekSession::reportSeek(qint64 nowMs, qint64 clockMs)
{
    if (!m_Clip.opened)
        return;
    const qint64 position = positionOf(clockMs);
    say(QStringLiteral("sono su  %1").arg(position));
    const SeekStats::Landing landing = m_Stats.record(position, m_SeekTarget);
    if (landing.forward)
        say(QStringLiteral("FORWARD"));
    say(QStringLiteral("Average %1 %2 %3").arg(landing.average).arg(landing.maxDiff).arg(landing.minDiff));
    m_Run.landed(nowMs, landing.batchComplete);
    m_PendingRow.landed(position);
    if (m_PendingRow.isComplete())
        finishRow();
    retitle();
    if (!landing.batchComplete)
        return;
    Action line;
    line.kind = Action::Kind::ReportLine;
    line.text = landing.reportLine;
    m_Out.push_back(line);
    if (m_PendingRow.isOpen()) {
        // With sound the clock may show the landing before the first new picture is due: the
        // fresh clip would take the row's picture away.
        m_ReopenAfterRow = true;
        m_ReopenDeadline = nowMs + PendingSeekRow::PictureWaitMs;
    } else {
        reopen();
    }
}

SeekSession::Actions SeekSession::pictureShown(qint64 nowMs, qint64 clockMs, double time, bool keyFrame)
{
    m_Out.clear();
    if (m_PendingRow.isOpen() && !m_PendingRow.hasPicture()) {
        m_PendingRow.pictureShown(time, keyFrame, nowMs, reads());
        if (m_PendingRow.isComplete())
            finishRow();
    }
    if (m_Options.landOnFirstPicture && m_Watch.isArmed()) {
        m_Watch.cancel();
        reportSeek(nowMs, clockMs);
    }
    return std::exchange(m_Out, {});
}

SeekSession::Actions SeekSession::finish()
{
    m_Out.clear();
    finishRow();
    if (m_Stats.seekCount() > 0) {
        Action line;
        line.kind = Action::Kind::ReportLine;
        line.text = SeekStats::reportLine(m_Stats.diffSum() / m_Stats.seekCount(), m_Stats.maxDiff(),
                                          m_Stats.minDiff());
        m_Out.push_back(line);
        m_Stats.reset();
    }
    return std::exchange(m_Out, {});
}

void SeekSession::finishRow()
{
    if (const std::optional<SeekRow> row = m_PendingRow.close(reads(), m_Options.rowForEverySeek)) {
        Action a;
        a.kind = Action::Kind::Row;
        a.row = *row;
        m_Out.push_back(a);
    }
}

void SeekSession::reopen()
{
    Action a;
    a.kind = Action::Kind::Reopen;
    m_Out.push_back(a);
}
