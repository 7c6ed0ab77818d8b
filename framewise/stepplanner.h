#pragma once

#include "clipcursor.h"

#include <deque>
#include <memory>
#include <optional>

class PairTiming;
class PixelPacket;

// framewise's steps while paused: both clips' cursors (ClipCursor) moved together, the first by
// its own pictures, the second to the picture the pairing (PairTiming, offset included) puts
// beside the first clip's. Commands queue up (a key held down) and are carried out in order, each
// first on the first clip, then on the second; poll() reports when a pair is complete, to be shown.
//
//   forward  the first clip's next picture
//   back     the first clip's picture before the one shown (nothing before its first picture)
//   repair   the first clip stays, the second is paired again (the offset changed)
//   jumpTo   the first clip's picture at a stamp (the worst pairs), the second paired with it
//
// The budget of kept pictures is split between the clips by their picture sizes. After each step
// the cursors read ahead in its direction (ClipCursor::prefetchBefore(), prefetchAfter()), so a
// run of steps mostly finds its pictures ready.
//
// Threads: the GUI thread, as the feeds. A plain object over the two feeds and the timing, none
// owned.
class StepPlanner {
public:
    StepPlanner(PictureFeed *first, PictureFeed *second, const PairTiming *timing);

    // Starts from the pair on screen: copies that the cursors keep. budget: bytes for both.
    void start(std::unique_ptr<PixelPacket> first, std::unique_ptr<PixelPacket> second, qint64 budget);
    // Drops the pictures kept and every command (resuming playback, a seek, closing).
    void stop();
    bool isActive() const { return m_Active; }

    void forward();
    void back();
    void repair();
    void jumpTo(double firstStamp);

    // Carries the commands on; true when a pair was completed since the last call.
    bool poll();
    bool busy() const { return !m_Commands.empty(); }
    // A cursor reads the pictures before its run in the background: keep polling.
    bool prefetching() const { return m_First.readingAhead() || m_Second.readingAhead(); }
    int queued() const { return int(m_Commands.size()); }
    // Drops the commands not done yet (the pair shown stays as it is).
    void cancel();
    // How far each clip moved (pictures) since the last call; none when it was repositioned.
    struct Moves {
        std::optional<int> clip[2] = {0, 0};
    };
    Moves takeMoves();

    const PixelPacket *first() const { return m_First.current(); }
    const PixelPacket *second() const { return m_Second.current(); }
    const ClipCursor &cursor(int clip) const { return clip == 0 ? m_First : m_Second; }

private:
    enum class Kind { Forward, Back, Repair, JumpTo };
    struct Command {
        Kind kind;
        double stamp = 0.0;
        bool secondIssued = false;
    };

    void issueFirst(Command &command);
    void issueSecond();
    void count(int clip, const ClipCursor &cursor);
    void prefetch(bool back);

    const PairTiming *m_Timing;
    ClipCursor m_First;
    ClipCursor m_Second;
    std::deque<Command> m_Commands;
    bool m_Issued = false;   // the front command's first request went out
    Moves m_Moves;
    bool m_Active = false;
};
