#pragma once

#include "picturefeed.h"

#include <QtGlobal>

#include <deque>
#include <functional>
#include <memory>

class PixelPacket;

// One clip's place while framewise steps through it picture by picture: the picture shown and a
// run of its neighbours kept for steps back, bounded in bytes, over the clip's PictureFeed.
//
// The run is contiguous: its pictures follow each other in the clip's order, and as long as it
// continues into the feed the feed's next picture (after any already kept, which are dropped as
// they come) follows its last. A step forward takes the next kept picture or the feed's next. A
// request for the latest picture before a limit moves within the run when it holds that picture;
// reads on through the feed when the limit lies a little past it; seeks the feed to the keyframe
// at or before the expected picture and starts a new run when it lies far past it; and, when it
// lies before the run, seeks the feed there and decodes up to the run's first picture, keeping
// what fits, so further steps back are served from the run. A step back therefore decodes from the
// keyframe at or before its target (or nothing at all) and always lands on the same picture as
// stepping forward left there: pictures are told apart by their stamps, never by counting.
//
// When the kept pictures exceed the budget, those farthest from the shown picture go: the run's
// first ones while reading on, its last ones (and then the refill's first) while refilling. A run
// that no longer continues into the feed (a refill given up) seeks the feed to its last picture
// again when a step needs what follows.
//
// Requests are carried out by poll() as far as the feed allows, so the window never waits for
// the decoder: it polls from a timer until the request is done. Stepping back, the planner asks
// for the pictures before the run before they are needed (prefetchBefore()), so that most steps
// back find their picture kept.
//
// Threads: the GUI thread (the feed's). The kept pictures are owned here and go back to their
// decoder's pool when dropped: clear() them before the decoder closes.
class ClipCursor {
public:
    using Before = std::function<bool(double stamp)>;
    // A limit more than this past the run's last picture is reached by a seek, not by reading on.
    static constexpr double ReadOnSeconds = 1.0;
    // A seek for pictures before the run that found none is repeated this often, a second earlier
    // each time, before the run's first picture is taken as the answer (the clip's start).
    static constexpr int RefillRetries = 3;

    ClipCursor(PictureFeed *feed, qint64 budgetBytes);
    ~ClipCursor();

    // Starts from the picture on screen, the feed continuing right after it.
    void start(std::unique_ptr<PixelPacket> current);
    // Drops every kept picture.
    void clear();
    void setBudget(qint64 bytes) { m_Budget = bytes; }

    // The next picture.
    void requestNext();
    // The latest picture whose stamp `before` accepts (it accepts a first part of the clip's
    // pictures); target: a stamp at or before that picture, where a seek goes.
    void requestLatest(Before before, double target);
    // Carries the request on; true once it is done (or when none is pending).
    bool poll();
    bool pending() const { return m_Kind != Kind::None; }
    // Drops a pending request (the picture shown stays).
    void cancel();
    // Starts reading the pictures before the run while nothing is asked, for the steps back to
    // come (target: where the seek goes); poll() carries it on, and a request the run can answer
    // does not wait for it.
    void prefetchBefore(double target);
    // Stepping forward: a run that no longer continues into the feed has the feed read on after
    // it, so the next steps find their pictures queued.
    void prefetchAfter();
    // A refill or a read-ahead is under way: poll() carries it on.
    bool readingAhead() const { return m_Refilling || m_DropAhead; }
    int position() const { return m_Position; }

    const PixelPacket *current() const;
    // The picture shown is the last kept.
    bool atLast() const { return m_Position >= 0 && m_Position + 1 == int(m_Run.size()); }
    // How many pictures the last request moved (negative: back); when it had to seek far ahead
    // the distance is unknown and repositioned() says so.
    int moved() const { return m_Position - m_StartPosition; }
    bool repositioned() const { return m_Repositioned; }
    // A copy of a picture that draws on the same buffer pool (the decoder's queue's).
    static std::unique_ptr<PixelPacket> copyOf(const PixelPacket &picture);
    int kept() const { return int(m_Run.size()); }
    qint64 bytes() const { return m_Bytes; }
    int seeks() const { return m_Seeks; }
    bool continuesIntoFeed() const { return m_Continues; }
    // The stamps of the first and the last picture kept (the feed goes on after the last when
    // continuesIntoFeed()).
    double firstStamp() const { return m_Run.empty() ? 0.0 : stampAt(0); }
    double lastStamp() const;

    static qint64 bytesOf(const PixelPacket &picture);

private:
    enum class Kind { None, Next, Latest };
    using Picture = std::unique_ptr<PixelPacket>;

    bool pollNext();
    bool pollLatest();
    bool pollRefill();
    void startRefill();
    void abandonRefill();
    void dropKept();
    void finishRefill();
    // Takes the feed's next new picture onto the run's end; false while none is queued.
    bool fetch();
    void seek(double stamp);
    void trim();
    void dropRun();
    int lastBefore() const;
    double stampAt(int index) const;

    PictureFeed *m_Feed;   // not owned
    qint64 m_Budget;
    std::deque<Picture> m_Run;
    int m_Position = -1;
    int m_StartPosition = -1;     // where the request began, in the run's present numbering
    bool m_Repositioned = false;
    qint64 m_Bytes = 0;
    bool m_Continues = false;     // the feed's next new picture follows the run's last
    double m_SkipThrough = 0.0;   // feed pictures stamped at or before this are kept already
    bool m_Skipping = false;
    bool m_DropAhead = false;     // prefetchAfter(): the kept pictures the feed re-reads go unasked

    Kind m_Kind = Kind::None;
    Before m_Before;
    double m_Target = 0.0;

    bool m_Refilling = false;
    Before m_RefillBefore;            // what the refill looks for
    std::deque<Picture> m_Incoming;   // the refill's pictures, before the run's first
    qint64 m_IncomingBytes = 0;
    double m_RefillUntil = 0.0;       // the run's first picture when the refill began
    int m_Retries = 0;
    bool m_Jumped = false;   // this request has sought ahead already
    int m_Seeks = 0;
};
