#include "stepplanner.h"

#include "pairtiming.h"

#include "engine/pixelpacket.h"

StepPlanner::StepPlanner(PictureFeed *first, PictureFeed *second, const PairTiming *timing)
    : m_Timing(timing)
    , m_First(first, 0)
    , m_Second(second, 0)
{
}

void StepPlanner::start(std::unique_ptr<PixelPacket> first, std::unique_ptr<PixelPacket> second, qint64 budget)
{
    stop();
    const double bytes1 = first ? double(ClipCursor::bytesOf(*first)) : 1.0;
    const double bytes2 = second ? double(ClipCursor::bytesOf(*second)) : 1.0;
    m_First.setBudget(qint64(budget * bytes1 / (bytes1 + bytes2)));
    m_Second.setBudget(qint64(budget * bytes2 / (bytes1 + bytes2)));
    m_First.start(std::move(first));
    m_Second.start(std::move(second));
    m_Active = true;
}

void StepPlanner::stop()
{
    m_Commands.clear();
    m_Issued = false;
    m_Moves = Moves();
    m_First.clear();
    m_Second.clear();
    m_Active = false;
}

void StepPlanner::cancel()
{
    m_Commands.clear();
    m_Issued = false;
    m_First.cancel();
    m_Second.cancel();
}

StepPlanner::Moves StepPlanner::takeMoves()
{
    const Moves moves = m_Moves;
    m_Moves = Moves();
    return moves;
}

void StepPlanner::forward()
{
    m_Commands.push_back({Kind::Forward});
}

void StepPlanner::back()
{
    m_Commands.push_back({Kind::Back});
}

void StepPlanner::repair()
{
    m_Commands.push_back({Kind::Repair});
}

void StepPlanner::jumpTo(double firstStamp)
{
    m_Commands.push_back({Kind::JumpTo, firstStamp});
}

void StepPlanner::count(int clip, const ClipCursor &cursor)
{
    std::optional<int> &moved = m_Moves.clip[clip];
    moved = moved && !cursor.repositioned() ? std::optional<int>(*moved + cursor.moved()) : std::nullopt;
}

void StepPlanner::issueFirst(Command &command)
{
    const PairTiming &t = *m_Timing;
    const PixelPacket *shown = m_First.current();
    switch (command.kind) {
    case Kind::Forward:
        m_First.requestNext();
        break;
    case Kind::Back:
        // The first picture has nothing before it.
        if (shown && t.relative(StartAlignment::First, shown->m_Time) > 0.0) {
            const qint64 now = PairTiming::microseconds(shown->m_Time);
            m_First.requestLatest([now](double stamp) { return PairTiming::microseconds(stamp) < now; },
                                  shown->m_Time - 1.5 * t.firstInterval());
        }
        break;
    case Kind::JumpTo: {
        // The picture stamped there, give or take a quarter interval.
        const qint64 limit = PairTiming::microseconds(command.stamp + t.firstInterval() / 4);
        m_First.requestLatest([limit](double stamp) { return PairTiming::microseconds(stamp) < limit; },
                              command.stamp - 0.5 * t.firstInterval());
        break;
    }
    case Kind::Repair:
        break;
    }
}

void StepPlanner::issueSecond()
{
    const PixelPacket *shown = m_First.current();
    if (!shown)
        return;
    const PairTiming &t = *m_Timing;
    const qint64 limit = t.limitUs(shown->m_Time);
    const double target = t.stamped(StartAlignment::Second, limit / 1e6) - 1.5 * t.secondInterval();
    m_Second.requestLatest([&t, limit](double stamp) { return t.before(stamp, limit); }, target);
}

void StepPlanner::prefetch(bool back)
{
    // A cursor in the half of its run the steps go towards reads on beyond that end.
    const double intervals[2] = {m_Timing->firstInterval(), m_Timing->secondInterval()};
    for (int clip : {0, 1}) {
        ClipCursor &cursor = clip == 0 ? m_First : m_Second;
        if (!cursor.current())
            continue;
        const auto which = clip == 0 ? StartAlignment::First : StartAlignment::Second;
        // Nothing lies before a clip's first picture.
        if (back && cursor.position() < cursor.kept() / 2 && m_Timing->relative(which, cursor.firstStamp()) > 0.0)
            cursor.prefetchBefore(cursor.firstStamp() - 1.5 * intervals[clip]);
        else if (!back && cursor.position() >= cursor.kept() / 2)
            cursor.prefetchAfter();
    }
}

bool StepPlanner::poll()
{
    bool completed = false;
    if (m_Commands.empty()) {
        // Only the prefetching reads on.
        m_First.poll();
        m_Second.poll();
    }
    while (!m_Commands.empty()) {
        Command &command = m_Commands.front();
        if (!m_Issued) {
            issueFirst(command);
            m_Issued = true;
        }
        if (!command.secondIssued) {
            if (!m_First.poll())
                return completed;
            count(0, m_First);
            issueSecond();
            command.secondIssued = true;
        }
        if (!m_Second.poll())
            return completed;
        count(1, m_Second);
        const Kind kind = command.kind;
        m_Commands.pop_front();
        m_Issued = false;
        completed = true;
        if (kind == Kind::Back || kind == Kind::Forward)
            prefetch(kind == Kind::Back);
    }
    return completed;
}
