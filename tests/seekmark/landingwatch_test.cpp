// When a seek counts as landed: scripted clock readings and acknowledgements, the time given by
// the test.
#include "seekmark/landingwatch.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using State = LandingWatch::State;

// A poll at a time with a clock reading and the state it must give, or (expected Idle with now
// -1) the decoder's acknowledgement handled at a clock reading.
struct Event {
    qint64 nowMs;
    qint64 clockMs;
    State expected;
};

Event poll(qint64 now, qint64 clock, State expected) { return {now, clock, expected}; }
Event done(qint64 clock) { return {-1, clock, State::Idle}; }

TEST(LandingWatch, FollowsTheClock)
{
    struct Case {
        const char *name;
        bool withSound;
        qint64 durationMs;
        std::vector<Event> events;
    };
    const qint64 clip = 40000;
    const qint64 timeout = 1000 + LandingWatch::TimeoutMs;
    const Case cases[] = {
        // The old block plays on after the request: the clock moving on before the acknowledgement
        // is no landing; the first change after it is.
        {"sound lands only after seekDone", true, clip,
         {poll(1010, 12000, State::Pending), poll(1030, 12021, State::Pending), done(12021),
          poll(1050, 12021, State::Pending), poll(1060, 30000, State::Landed), poll(1070, 30021, State::Idle)}},
        // The new block already played when the acknowledgement came: the next block lands.
        {"sound already playing at seekDone", true, clip,
         {done(30000), poll(1040, 30000, State::Pending), poll(1060, 30021, State::Landed)}},
        // Nothing acknowledges a seek without sound: the first picture of the new position lands.
        {"pictures land without seekDone", false, clip,
         {poll(1010, 12000, State::Pending), poll(1040, 20000, State::Landed)}},
        {"the clock must lie inside the clip", false, clip,
         {poll(1010, clip + 1, State::Pending), poll(1020, -40, State::Pending), poll(1030, clip, State::Landed)}},
        {"an unknown duration sets no bound", false, 0, {poll(1010, 999999, State::Landed)}},
        {"no acknowledgement times out, once", true, clip,
         {poll(timeout, 12500, State::Pending), poll(timeout + 1, 12520, State::TimedOut),
          poll(timeout + 2, 12540, State::Idle)}},
        {"a clock stuck after seekDone times out", true, clip,
         {done(30000), poll(3000, 30000, State::Pending), poll(timeout + 1, 30000, State::TimedOut)}},
        // A later acknowledgement (of a seek the decoder made on its own) does not move the baseline.
        {"only the first seekDone counts", true, clip, {done(30000), done(30021), poll(1050, 30021, State::Landed)}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LandingWatch watch;
        watch.arm(1000, 12000, c.withSound);
        for (size_t i = 0; i < c.events.size(); ++i) {
            const Event &e = c.events[i];
            if (e.nowMs < 0)
                watch.seekDone(e.clockMs);
            else
                EXPECT_EQ(watch.poll(e.nowMs, e.clockMs, c.durationMs), e.expected) << "event " << i;
        }
    }
}

TEST(LandingWatch, IdleUntilArmedAndAfterCancel)
{
    LandingWatch watch;
    watch.seekDone(100);   // nothing armed: ignored
    EXPECT_EQ(watch.poll(0, 200, 1000), State::Idle);
    watch.arm(0, 100, true);
    watch.seekDone(100);
    watch.cancel();
    EXPECT_EQ(watch.poll(10, 500, 1000), State::Idle);
    // Re-armed afresh: the cancelled seek's acknowledgement does not carry over.
    watch.arm(20, 500, true);
    EXPECT_EQ(watch.poll(30, 700, 1000), State::Pending);
}

} // namespace
