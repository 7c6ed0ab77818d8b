// The pacing decisions, driven by a fake millisecond clock and scripted scheduler replies.
#include "render/framepacer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// A script is pairs of (ms since the previous tick, reply) with the accumulator expected after
// each; reply: '-' the tick must not ask, 'n' a new picture, 's' the one shown last, '0' none.
TEST(FramePacer, ScriptedTicks)
{
    struct Script {
        const char *name;
        PacerOptions options;
        std::vector<std::tuple<qint64, char, qint64>> steps;
    };
    const PacerOptions sm = PacerOptions::seekmark(), fw = PacerOptions::framewise();
    const Script scripts[] = {
        {"a late tick is caught up picture by picture", sm,
         {{0, 'n', 0}, {100, 'n', 60}, {5, 'n', 25}, {5, '-', 30}, {5, '-', 35}, {5, 'n', 0}}},
        {"a held picture resets even a large backlog", sm, {{0, 'n', 0}, {300, 's', 0}, {5, '-', 5}, {35, 'n', 0}}},
        {"a missing picture makes the next tick ask again", sm, {{0, '0', 80}, {5, 'n', 45}}},
        // A stall leaves its phase below one interval; up to interval + 5 ms is kept, so a tick
        // that came late is caught up on the next one.
        {"framewise cuts a stall's backlog to below one interval", fw, {{0, 'n', 0}, {100, 'n', 20}, {5, '-', 25}, {15, 'n', 0}}},
        {"framewise keeps a backlog of interval + 5", fw, {{0, 'n', 0}, {85, 'n', 45}, {4, 'n', 9}, {31, 'n', 0}}},
    };
    for (const Script &script : scripts) {
        SCOPED_TRACE(script.name);
        FramePacer pacer(script.options);
        ASSERT_EQ(pacer.setFrameRate(25.0), 40);
        qint64 now = 1000;
        double nextTime = 0.0;
        for (const auto &[advance, reply, accumulated] : script.steps) {
            SCOPED_TRACE(testing::Message() << "at " << now + advance);
            ASSERT_EQ(pacer.tick(now += advance).request, reply != '-');
            if (reply == 'n') {
                EXPECT_EQ(pacer.picture(nextTime).outcome, FramePacer::Outcome::Show);
                nextTime += 0.04;
            } else if (reply == 's') {
                EXPECT_EQ(pacer.picture(pacer.lastPictureTime()).outcome, FramePacer::Outcome::Repeat);
            } else if (reply == '0') {
                EXPECT_EQ(pacer.noPicture().outcome, FramePacer::Outcome::Drop);
            }
            EXPECT_EQ(pacer.accumulated(), accumulated);
        }
    }
    // A clock running back (a time of day at midnight) must never take time away.
    FramePacer pacer;
    pacer.setFrameRate(25.0);
    pacer.tick(5000);
    pacer.picture(0.0);
    EXPECT_TRUE(pacer.tick(5031).late);
    const qint64 before = pacer.accumulated();
    EXPECT_EQ(pacer.tick(100).elapsed, 0);
    EXPECT_EQ(pacer.accumulated(), before);
}

// 50 and 60 pictures a second keep their rate: taken as 25 they lost half their pictures.
TEST(FramePacer, IntervalFromRate)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto &[rate, limitRate, interval] : {std::tuple<double, bool, int>{29.97, true, 33}, {50.0, true, 20}, {60.0, true, 16},
                                                    {60.5, true, 40}, {nan, true, 40}, {120.0, false, 8}, {-5.0, false, 40}})
        EXPECT_EQ(FramePacer::intervalForRate(rate, limitRate), interval) << "rate " << rate << " limit " << limitRate;
}

// Requests over a long run keep the clip's exact rate (the logged interval is truncated) and never
// wait more than one tick past their time; with followClock each request is aimed at the moment
// its picture is due on the clock, ahead by the display's time.
TEST(FramePacer, PacesAtTheExactRateAndAimsAtTheClock)
{
    const PacerOptions sm = PacerOptions::seekmark(), fw = PacerOptions::framewise();
    // rate, options, tick ms, every picture reported this much more early against the clock than
    // it was, requests in 10 s (the first tick asks at once). trunc(1000 / 30) = 33 ms would ask
    // 304 times, 16 ms 626. framewise's 4 ms timer: dropping what was left below an interval
    // after every picture made each wait for the next whole tick (44, 36, 20 ms: 228, 278, 501
    // requests). framewise has no clock to follow.
    const std::tuple<double, PacerOptions, int, int, int> rows[] = {{30.0, sm, 5, 0, 301}, {25.0, fw, 5, 80, 251}, {24.0, fw, 4, 0, 240},
        {25.0, fw, 4, 0, 251}, {30.0, fw, 4, 0, 301}, {50.0, fw, 4, 0, 501}, {60.0, fw, 4, 0, 600}};
    for (const auto &[rate, options, tickMs, earlyMs, expected] : rows) {
        SCOPED_TRACE(testing::Message() << "rate " << rate << " tick " << tickMs);
        FramePacer pacer(options);
        pacer.setFrameRate(rate);
        int requests = 0;
        double time = 0.0;
        for (qint64 now = 0; now <= 10000; now += tickMs) {
            if (!pacer.tick(now).request)
                continue;
            EXPECT_LT(now - time * 1000, tickMs + 1) << "a request came late at " << now;
            pacer.picture(time);
            pacer.followClock(std::llround((time * 1000 - now + earlyMs) * 1000));
            time = ++requests / rate;
        }
        EXPECT_EQ(requests, expected);
    }
    // At 25 pictures a second, a picture shown at 0 ms that was this early (ms) and display times
    // (ms): when the next request is due (ms). Drawing's time counts by its median, up to one
    // interval; framewise aims at nothing, nor does a picture a second or more off the clock.
    const struct {
        PacerOptions options;
        int earlyMs;
        std::vector<int> took;
        int due;
    } aims[] = {{sm, 0, {}, 40},   {sm, 10, {}, 50},    {sm, -15, {}, 25},     {sm, 0, {6}, 34},
                {sm, 0, {6, 30, 7}, 33}, {sm, 0, {60}, 0}, {fw, 10, {6}, 40},
                // A new position's first picture, far from a clock still at the old one: a jump.
                {sm, 5000, {}, 40}, {sm, -5000, {}, 40}};
    for (const auto &a : aims) {
        SCOPED_TRACE(testing::Message() << "early " << a.earlyMs << " took " << a.took.size());
        FramePacer pacer(a.options);
        pacer.setFrameRate(25.0);
        ASSERT_TRUE(pacer.tick(0).request);
        pacer.picture(0.0);
        pacer.followClock(a.earlyMs * 1000);
        for (int took : a.took)
            pacer.displayTook(took * 1000);
        EXPECT_EQ(pacer.untilRequestUs(), a.due * 1000);
        EXPECT_TRUE(a.due == 0 || !pacer.tickUs(a.due * 1000 - 1).request);
        EXPECT_TRUE(pacer.tickUs(a.due * 1000).request);
    }
}

} // namespace
