#include "clipcursor.h"

#include "engine/pixelpacket.h"

#include <algorithm>
#include <cmath>
#include <limits>

ClipCursor::ClipCursor(PictureFeed *feed, qint64 budgetBytes)
    : m_Feed(feed)
    , m_Budget(budgetBytes)
{
}

ClipCursor::~ClipCursor() = default;

std::unique_ptr<PixelPacket> ClipCursor::copyOf(const PixelPacket &picture)
{
    auto copy = std::make_unique<PixelPacket>(picture.m_Queue, picture.m_Buffer, picture.m_Size, picture.m_Time,
                                              picture.m_KeyFrame);
    copy->m_Width = picture.m_Width;
    copy->m_Height = picture.m_Height;
    copy->m_Colour = picture.m_Colour;
    copy->m_Aspect = picture.m_Aspect;
    return copy;
}

qint64 ClipCursor::bytesOf(const PixelPacket &picture)
{
    return PixelPacket::bufferSize(picture.m_Width, picture.m_Height);
}

void ClipCursor::start(std::unique_ptr<PixelPacket> current)
{
    clear();
    if (!current)
        return;
    m_SkipThrough = current->m_Time;
    m_Skipping = true;
    m_Bytes = bytesOf(*current);
    m_Run.push_back(std::move(current));
    m_Position = 0;
    m_Continues = true;
}

void ClipCursor::clear()
{
    cancel();
    abandonRefill();
    m_Run.clear();
    m_Position = -1;
    m_Bytes = 0;
    m_Continues = false;
    m_Skipping = false;
}

void ClipCursor::cancel()
{
    // A refill under way goes on by itself: it only adds pictures before the run.
    m_Kind = Kind::None;
    m_Before = nullptr;
}

void ClipCursor::abandonRefill()
{
    if (!m_Refilling)
        return;
    // What the refill decoded cannot be joined to the run any more: the feed stands before it.
    m_Refilling = false;
    m_Incoming.clear();
    m_IncomingBytes = 0;
    m_Continues = false;
}

void ClipCursor::prefetchAfter()
{
    if (m_Refilling || m_Continues || m_Run.empty() || pending())
        return;
    seek(m_Run.back()->m_Time);
    m_SkipThrough = m_Run.back()->m_Time;
    m_Skipping = true;
    m_Continues = true;
    m_DropAhead = true;
}

void ClipCursor::dropKept()
{
    // The feed re-reads what the run holds: those pictures go as they come, so the decoder gets
    // to the new ones.
    while (const std::optional<double> head = m_Feed->headTime()) {
        if (!m_Skipping || *head > m_SkipThrough) {
            m_Skipping = m_DropAhead = false;
            return;
        }
        m_Feed->take();
    }
}

void ClipCursor::prefetchBefore(double target)
{
    if (m_Refilling || m_Run.empty() || pending())
        return;
    const qint64 front = qint64(std::llround(m_Run.front()->m_Time * 1e6));
    m_RefillBefore = [front](double stamp) { return std::llround(stamp * 1e6) < front; };
    m_Target = target;
    m_Retries = 0;
    startRefill();
}

const PixelPacket *ClipCursor::current() const
{
    return m_Position >= 0 && m_Position < int(m_Run.size()) ? m_Run[size_t(m_Position)].get() : nullptr;
}

double ClipCursor::lastStamp() const
{
    return m_Run.empty() ? 0.0 : m_Run.back()->m_Time;
}

double ClipCursor::stampAt(int index) const
{
    return m_Run[size_t(index)]->m_Time;
}

void ClipCursor::requestNext()
{
    cancel();
    m_Kind = Kind::Next;
    m_StartPosition = m_Position;
    m_Repositioned = false;
}

void ClipCursor::requestLatest(Before before, double target)
{
    cancel();
    m_Kind = Kind::Latest;
    m_Before = std::move(before);
    m_Target = target;
    m_Retries = 0;
    m_Jumped = false;
    m_StartPosition = m_Position;
    m_Repositioned = false;
}

bool ClipCursor::poll()
{
    if (m_Kind == Kind::None) {
        // Nothing asked: nothing moved (a refill may read on meanwhile).
        if (m_Refilling)
            pollRefill();
        else if (m_DropAhead)
            dropKept();
        m_StartPosition = m_Position;
        m_Repositioned = false;
        return true;
    }
    bool done = true;
    if (m_Kind == Kind::Next)
        done = pollNext();
    else if (m_Kind == Kind::Latest)
        done = pollLatest();
    if (done) {
        m_Kind = Kind::None;
        m_Before = nullptr;
    }
    return done;
}

void ClipCursor::seek(double stamp)
{
    m_DropAhead = false;
    m_Feed->seek(std::max(0.0, stamp));
    ++m_Seeks;
}

bool ClipCursor::fetch()
{
    if (!m_Continues) {
        // The run's end was dropped (or never followed by the feed): read again from its last
        // picture, dropping what the run holds.
        if (m_Run.empty())
            return false;
        seek(m_Run.back()->m_Time);
        m_SkipThrough = m_Run.back()->m_Time;
        m_Skipping = true;
        m_Continues = true;
    }
    for (;;) {
        const std::optional<double> head = m_Feed->headTime();
        if (!head)
            return false;
        Picture picture = m_Feed->take();
        if (!picture)
            return false;
        if (m_Skipping && picture->m_Time <= m_SkipThrough)
            continue;
        m_Skipping = false;
        m_Bytes += bytesOf(*picture);
        m_Run.push_back(std::move(picture));
        return true;
    }
}

void ClipCursor::trim()
{
    // Only reading on calls it, with the picture shown at the run's end: the first ones go.
    while (m_Bytes > m_Budget && m_Run.size() > 1 && m_Position > 0) {
        m_Bytes -= bytesOf(*m_Run.front());
        m_Run.pop_front();
        --m_Position;
        --m_StartPosition;
    }
}

void ClipCursor::dropRun()
{
    m_Run.clear();
    m_Position = -1;
    m_Bytes = 0;
    m_Repositioned = true;
}

bool ClipCursor::pollNext()
{
    if (m_Position + 1 < int(m_Run.size())) {
        ++m_Position;
        return true;
    }
    abandonRefill();   // the feed is wanted after the run, not before it
    if (!fetch())
        return false;
    ++m_Position;
    trim();
    return true;
}

int ClipCursor::lastBefore() const
{
    // The accepted pictures come first: the last of them is the answer.
    int index = -1;
    for (int i = 0; i < int(m_Run.size()) && m_Before(stampAt(i)); ++i)
        index = i;
    return index;
}

bool ClipCursor::pollLatest()
{
    for (;;) {
        if (m_Refilling) {
            // The run may hold the answer already; otherwise it comes with the refill.
            const int kept = lastBefore();
            if (kept >= 0 && kept + 1 < int(m_Run.size())) {
                m_Position = kept;
                return true;
            }
            if (kept < 0 && !pollRefill())
                return false;
            abandonRefill();   // past the run: the feed is wanted after it
        }
        if (m_Run.empty()) {
            // A new run after a seek far ahead: it starts with the feed's first picture.
            if (!fetch())
                return false;
            m_Position = 0;
        }
        const int index = lastBefore();
        if (index < 0) {
            if (!m_Run.empty() && m_Retries > RefillRetries) {
                // Nothing before the run's first picture: the clip starts there.
                m_Position = 0;
                return true;
            }
            m_RefillBefore = m_Before;
            startRefill();
            continue;
        }
        if (index + 1 < int(m_Run.size())) {
            m_Position = index;
            return true;
        }
        // The last kept picture is accepted: the feed's next decides.
        if (!m_Jumped && m_Target - stampAt(index) > ReadOnSeconds) {
            // Once: the keyframe the seek lands on may itself lie a keyframe interval back.
            m_Jumped = true;
            dropRun();
            seek(m_Target);
            m_Continues = true;
            m_Skipping = false;
            m_Retries = 0;
            continue;
        }
        m_Position = index;   // shown meanwhile, should the clip end here
        if (!fetch())
            return m_Continues && m_Feed->ended();
        trim();
    }
}

void ClipCursor::startRefill()
{
    m_RefillUntil = m_Run.empty() ? std::numeric_limits<double>::infinity() : m_Run.front()->m_Time;
    // Further back on every retry: the keyframe before the target was not reached.
    seek(m_Target - (m_Retries > 0 ? double(1 << (m_Retries - 1)) : 0.0));
    ++m_Retries;
    m_Refilling = true;
    m_Incoming.clear();
    m_IncomingBytes = 0;
    m_Continues = false;
}

bool ClipCursor::pollRefill()
{
    for (;;) {
        const std::optional<double> head = m_Feed->headTime();
        if (!head) {
            if (!m_Feed->ended())
                return false;
            finishRefill();
            return true;
        }
        if (*head >= m_RefillUntil) {
            finishRefill();
            return true;
        }
        if (!m_RefillBefore(*head) && !m_Incoming.empty() && m_RefillUntil - *head > ReadOnSeconds) {
            // The answer came well before the run (a jump back): the refill becomes the run, and
            // the feed goes on right after it.
            dropRun();
            m_Position = -1;
            m_RefillUntil = *head;
            finishRefill();
            return true;
        }
        Picture picture = m_Feed->take();
        if (!picture)
            return false;
        m_IncomingBytes += bytesOf(*picture);
        m_Incoming.push_back(std::move(picture));
        // Over the budget: the run's far end goes first, as far as the picture shown, then the
        // refill's earliest pictures (the answer lies at the refill's end).
        while (m_Bytes + m_IncomingBytes > m_Budget && int(m_Run.size()) > std::max(m_Position + 1, 0)) {
            m_Bytes -= bytesOf(*m_Run.back());
            m_Run.pop_back();
        }
        while (m_Bytes + m_IncomingBytes > m_Budget && m_Incoming.size() > 1) {
            m_IncomingBytes -= bytesOf(*m_Incoming.front());
            m_Incoming.pop_front();
        }
    }
}

void ClipCursor::finishRefill()
{
    m_Refilling = false;
    const bool joined = !m_Run.empty();
    const int added = int(m_Incoming.size());
    while (!m_Incoming.empty()) {
        m_Run.push_front(std::move(m_Incoming.back()));
        m_Incoming.pop_back();
    }
    m_Bytes += m_IncomingBytes;
    m_IncomingBytes = 0;
    m_Position = m_Position < 0 ? int(m_Run.size()) - 1 : m_Position + added;
    m_StartPosition += added;
    // The feed goes on at the old first picture: everything through the run's last is kept.
    m_Continues = true;
    m_SkipThrough = joined ? m_Run.back()->m_Time : -std::numeric_limits<double>::infinity();
    m_Skipping = joined;
}
