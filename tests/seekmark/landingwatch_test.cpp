// When a seek counts as landed: scripted sequences of clock readings and acknowledgements, with
// the time given by the test.
#include "seekmark/landingwatch.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using State = LandingWatch::State;

// One event in a scripted sequence: a poll at a time with a clock reading, or the decoder's
// acknowledgement handled with a clock reading.
struct Event {
    enum Kind { Poll, SeekDone } kind;
    qint64 nowMs;
    qint64 clockMs;
    State expected;   // for polls
};

Event poll(qint64 now, qint64 clock, State expected) { return {Event::Poll, now, clock, expected}; }
Event done(qint64 clock) { return {Event::SeekDone, 0, clock, State::Idle}; }

struct Case {
    std::string name;
    bool withSound;
    qint64 clockAtSeek;
    qint64 durationMs;
    std::vector<Event> events;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class LandingWatchSequence : public ::testing::TestWithParam<Case> {};

TEST_P(LandingWatchSequence, FollowsTheClock)
{
    const Case &c = GetParam();
    LandingWatch watch;
    watch.arm(1000, c.clockAtSeek, c.withSound);
    int step = 0;
    for (const Event &e : c.events) {
        ++step;
        if (e.kind == Event::SeekDone) {
            watch.seekDone(e.clockMs);
            continue;
        }
        EXPECT_EQ(watch.poll(e.nowMs, e.clockMs, c.durationMs), e.expected) << "step " << step;
    }
}

const qint64 kClip = 40000;

INSTANTIATE_TEST_SUITE_P(
    Sequences, LandingWatchSequence,
    ::testing::Values(
        // The old block keeps playing after the request: the clock moving on with old sound
        // before the acknowledgement is not a landing; the first change after it is.
        Case{"SoundLandsOnlyAfterSeekDone", true, 12000, kClip,
             {poll(1010, 12000, State::Pending), poll(1030, 12021, State::Pending), done(12021),
              poll(1050, 12021, State::Pending), poll(1060, 30000, State::Landed),
              poll(1070, 30021, State::Idle)}},
        // The new block was already playing when the acknowledgement was handled: the landing
        // comes with the next block, still at the new position.
        Case{"SoundAlreadyPlayingAtSeekDone", true, 12000, kClip,
             {done(30000), poll(1040, 30000, State::Pending), poll(1060, 30021, State::Landed)}},
        // Without sound nothing acknowledges the seek: the first change of the clock (the first
        // picture of the new position) is the landing.
        Case{"PicturesLandWithoutSeekDone", false, 5000, kClip,
             {poll(1010, 5000, State::Pending), poll(1040, 20000, State::Landed)}},
        // A seek that lands exactly where the clock stood waits for the next change.
        Case{"NoSoundSameValueWaits", false, 5000, kClip,
             {poll(1010, 5000, State::Pending), poll(1050, 5040, State::Landed)}},
        // The clock must lie inside the clip.
        Case{"ClockPastTheEndIsNoLanding", false, 5000, kClip,
             {poll(1010, kClip + 1, State::Pending), poll(1020, -40, State::Pending),
              poll(1030, kClip, State::Landed)}},
        // An unknown duration sets no upper bound.
        Case{"UnknownDurationHasNoBound", false, 5000, 0,
             {poll(1010, 999999, State::Landed)}},
        // No acknowledgement: the seek fails after the time-out, not before, and only once.
        Case{"SoundWithoutSeekDoneTimesOut", true, 12000, kClip,
             {poll(1000 + LandingWatch::TimeoutMs, 12500, State::Pending),
              poll(1001 + LandingWatch::TimeoutMs, 12520, State::TimedOut),
              poll(1002 + LandingWatch::TimeoutMs, 12540, State::Idle)}},
        // Acknowledged, but the clock never moves again (the sound stopped).
        Case{"ClockStuckAfterSeekDoneTimesOut", true, 12000, kClip,
             {done(30000), poll(3000, 30000, State::Pending),
              poll(1001 + LandingWatch::TimeoutMs, 30000, State::TimedOut)}},
        // A second acknowledgement (of a later seek the decoder made on its own) does not move
        // the baseline once the first was taken.
        Case{"OnlyTheFirstSeekDoneCounts", true, 12000, kClip,
             {done(30000), done(30021), poll(1050, 30021, State::Landed)}}),
    [](const ::testing::TestParamInfo<Case> &info) { return info.param.name; });

TEST(LandingWatch, IdleUntilArmedAndAfterCancel)
{
    LandingWatch watch;
    watch.seekDone(100);   // nothing armed: ignored
    EXPECT_EQ(watch.poll(0, 200, 1000), State::Idle);
    EXPECT_FALSE(watch.isArmed());

    watch.arm(0, 100, true);
    EXPECT_TRUE(watch.isArmed());
    watch.seekDone(100);
    watch.cancel();
    EXPECT_EQ(watch.poll(10, 500, 1000), State::Idle);

    // Re-arming starts afresh: the acknowledgement of the cancelled seek does not carry over.
    watch.arm(20, 500, true);
    EXPECT_FALSE(watch.seekDoneSeen());
    EXPECT_EQ(watch.poll(30, 700, 1000), State::Pending);
}

} // namespace
