// The pacing decisions, driven by a fake millisecond clock and scripted scheduler replies.
#include "render/framepacer.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

// None: the tick must not ask; New: a picture never shown before; Same: the one shown last.
enum class Reply { None, New, Same, Null };

struct Step {
    qint64 advance;       // ms since the previous tick
    Reply reply;
    qint64 accumulated;   // expected once the tick is done
};

struct Script {
    const char *name;
    PacerOptions options;
    std::vector<Step> steps;   // the first is the first tick ever
};

TEST(FramePacer, ScriptedTicks)
{
    const PacerOptions seekmark = PacerOptions::seekmark();
    const PacerOptions framewise = PacerOptions::framewise();
    const Script scripts[] = {
        {"every eighth tick of 5 ms asks", seekmark,
         {{0, Reply::New, 0}, {5, Reply::None, 5}, {5, Reply::None, 10}, {5, Reply::None, 15},
          {5, Reply::None, 20}, {5, Reply::None, 25}, {5, Reply::None, 30}, {5, Reply::None, 35},
          {5, Reply::New, 0}}},
        {"a late tick is caught up picture by picture", seekmark,
         {{0, Reply::New, 0}, {100, Reply::New, 60}, {5, Reply::New, 25}, {5, Reply::None, 30},
          {5, Reply::None, 35}, {5, Reply::New, 0}}},
        {"a held picture resets even a large backlog", seekmark,
         {{0, Reply::New, 0}, {300, Reply::Same, 0}, {5, Reply::None, 5}, {35, Reply::New, 0}}},
        {"a missing picture makes the next tick ask again", seekmark,
         {{0, Reply::Null, 80}, {5, Reply::New, 45}, {5, Reply::New, 10}, {5, Reply::None, 15}}},
        // A stall leaves its phase below one interval; up to interval + 5 ms is kept, so a tick
        // that came late is caught up on the next one.
        {"framewise cuts a stall's backlog to below one interval", framewise,
         {{0, Reply::New, 0}, {100, Reply::New, 20}, {5, Reply::None, 25}, {15, Reply::New, 0}}},
        {"framewise keeps a backlog of interval + 5", framewise,
         {{0, Reply::New, 0}, {85, Reply::New, 45}, {4, Reply::New, 9}, {31, Reply::New, 0}}},
    };
    for (const Script &script : scripts) {
        SCOPED_TRACE(script.name);
        FramePacer pacer(script.options);
        ASSERT_EQ(pacer.setFrameRate(25.0), 40);
        qint64 now = 1000;
        double nextTime = 0.0;
        for (size_t i = 0; i < script.steps.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "step " << i);
            const Step &step = script.steps[i];
            now += step.advance;
            ASSERT_EQ(pacer.tick(now).request, step.reply != Reply::None);
            if (step.reply == Reply::New) {
                EXPECT_EQ(pacer.picture(nextTime).outcome, FramePacer::Outcome::Show);
                nextTime += 0.04;
            } else if (step.reply == Reply::Same) {
                EXPECT_EQ(pacer.picture(pacer.lastPictureTime()).outcome, FramePacer::Outcome::Repeat);
            } else if (step.reply == Reply::Null) {
                EXPECT_EQ(pacer.noPicture().outcome, FramePacer::Outcome::Drop);
            }
            EXPECT_EQ(pacer.accumulated(), step.accumulated);
        }
    }
}

TEST(FramePacer, LateTicksAndAClockRunningBack)
{
    FramePacer pacer;
    pacer.setFrameRate(25.0);
    const FramePacer::TickDecision first = pacer.tick(5000);
    EXPECT_FALSE(first.late);
    EXPECT_EQ(first.elapsed, 40);
    pacer.picture(0.0);
    EXPECT_FALSE(pacer.tick(5015).late);
    const FramePacer::TickDecision late = pacer.tick(5031);
    EXPECT_TRUE(late.late);
    EXPECT_EQ(late.elapsed, 16);

    // Must never take time away (the midnight wrap of a time of day).
    const qint64 before = pacer.accumulated();
    EXPECT_EQ(pacer.tick(100).elapsed, 0);
    EXPECT_EQ(pacer.accumulated(), before);
    EXPECT_EQ(pacer.tick(105).elapsed, 5);
}

TEST(FramePacer, IntervalFromRate)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        double rate;
        bool limitRate;
        int interval;
    };
    // 50 and 60 pictures a second keep their rate: taken as 25 they lost half their pictures.
    const Row rows[] = {
        {25.0, true, 40},  {29.97, true, 33}, {20.0, true, 40},  {20.5, true, 48},  {50.0, true, 20},
        {60.0, true, 16},  {60.5, true, 40},  {0.0, true, 40},   {nan, true, 40},   {-25.0, true, 40},
        {120.0, false, 8}, {24.0, false, 41}, {-5.0, false, 40}, {nan, false, 40},  {inf, false, 40},
    };
    for (const Row &row : rows)
        EXPECT_EQ(FramePacer::intervalForRate(row.rate, row.limitRate), row.interval)
            << "rate " << row.rate << " limit " << row.limitRate;
    FramePacer seekmark(PacerOptions::seekmark());
    EXPECT_EQ(seekmark.setFrameRate(100.0), 40);
    EXPECT_EQ(seekmark.frameInterval(), 40);
}

// Requests over a long run keep the clip's exact rate (the logged interval is truncated), never
// wait more than one tick past their time, and with followClock the phase leans towards the
// clock: a picture shown early delays the next request.
TEST(FramePacer, PacesAtTheExactRateAndFollowsTheClock)
{
    struct Row {
        double rate;
        PacerOptions options;
        int tickMs;
        int earlyMs;       // every shown picture is reported this early against the clock
        int requestsIn10s; // the first tick asks at once
    };
    const PacerOptions framewise = PacerOptions::framewise();
    const Row rows[] = {
        {30.0, PacerOptions::seekmark(), 5, 0, 301},   // trunc(1000 / 30) = 33 ms would ask 304 times
        {60.0, PacerOptions::seekmark(), 5, 0, 600},   // 16 ms: 626 times
        {25.0, framewise, 5, 80, 251},                  // framewise has no clock to follow
        // framewise's 4 ms timer: dropping what was left below an interval after every picture
        // made each wait for the next whole tick (44, 36, 20 ms: 228, 278, 501 requests).
        {24.0, framewise, 4, 0, 240}, {25.0, framewise, 4, 0, 251}, {30.0, framewise, 4, 0, 301},
        {50.0, framewise, 4, 0, 501}, {60.0, framewise, 4, 0, 600},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "rate " << row.rate << " tick " << row.tickMs);
        FramePacer pacer(row.options);
        pacer.setFrameRate(row.rate);
        int requests = 0;
        double time = 0.0;
        for (qint64 now = 0; now <= 10000; now += row.tickMs) {
            if (!pacer.tick(now).request)
                continue;
            EXPECT_LT(now - time * 1000, row.tickMs + 1) << "a request came late at " << now;
            ++requests;
            pacer.picture(time);
            pacer.followClock(row.earlyMs);
            time = requests / row.rate;
        }
        EXPECT_EQ(requests, row.requestsIn10s);
    }

    // Early pictures hold the next request back by an eighth of the lead, at most a quarter
    // interval; late ones bring it forward.
    struct Lean {
        int diffMs;
        qint64 accumulatedAfter;
    };
    for (const Lean &lean : {Lean{80, -10}, Lean{400, -10}, Lean{16, -2}, Lean{-40, 5}, Lean{0, 0}}) {
        FramePacer pacer;
        pacer.setFrameRate(25.0);
        pacer.tick(0);
        pacer.picture(0.0);
        pacer.followClock(lean.diffMs);
        EXPECT_EQ(pacer.accumulated(), lean.accumulatedAfter) << "diff " << lean.diffMs;
    }
}

} // namespace
