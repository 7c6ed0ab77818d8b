// The pacing decisions, driven by a fake millisecond clock and scripted scheduler replies.
#include "render/framepacer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// What the scheduler hands back when the pacer asks.
enum class Reply {
    None,  // the tick must not ask
    New,   // a picture never shown before
    Same,  // the picture shown last
    Null,  // nothing
};

struct Step {
    qint64 advance;       // ms since the previous tick
    Reply reply;
    qint64 accumulated;   // expected accumulator once the tick is done
};

struct Script {
    const char *name;
    PacerOptions options;
    std::vector<Step> steps;
};

// Runs a script; the first step is the first tick ever (its advance only moves the clock).
void runScript(const Script &script)
{
    SCOPED_TRACE(script.name);
    FramePacer pacer(script.options);
    ASSERT_EQ(pacer.setFrameRate(25.0), 40);
    qint64 now = 1000;
    double nextTime = 0.0;
    int index = 0;
    for (const Step &step : script.steps) {
        SCOPED_TRACE(testing::Message() << "step " << index++);
        now += step.advance;
        const FramePacer::TickDecision tick = pacer.tick(now);
        ASSERT_EQ(tick.request, step.reply != Reply::None);
        switch (step.reply) {
        case Reply::None:
            break;
        case Reply::New:
            EXPECT_EQ(pacer.picture(nextTime).outcome, FramePacer::Outcome::Show);
            EXPECT_EQ(pacer.lastPictureTime(), nextTime);
            nextTime += 0.04;
            break;
        case Reply::Same:
            EXPECT_EQ(pacer.picture(pacer.lastPictureTime()).outcome, FramePacer::Outcome::Repeat);
            break;
        case Reply::Null:
            EXPECT_EQ(pacer.noPicture().outcome, FramePacer::Outcome::Drop);
            break;
        }
        EXPECT_EQ(pacer.accumulated(), step.accumulated);
    }
}

TEST(FramePacer, ScriptedTicks)
{
    const std::vector<Script> scripts = {
        {"a late tick is caught up picture by picture", PacerOptions::seekmark(),
         {{0, Reply::New, 0},
          {100, Reply::New, 60},
          {5, Reply::New, 25},
          {5, Reply::None, 30},
          {5, Reply::None, 35},
          {5, Reply::New, 0}}},
        {"a held picture resets even a large backlog", PacerOptions::seekmark(),
         {{0, Reply::New, 0},
          {300, Reply::Same, 0},
          {5, Reply::None, 5},
          {35, Reply::New, 0}}},
        {"a missing picture makes the next tick ask again", PacerOptions::seekmark(),
         {{0, Reply::Null, 80},
          {5, Reply::New, 45},
          {5, Reply::New, 10},
          {5, Reply::None, 15}}},
        {"the first tick asks at once and the first picture is shown", PacerOptions::seekmark(),
         {{0, Reply::New, 0}, {5, Reply::None, 5}}},
        {"framewise cuts a large backlog to 10", PacerOptions::framewise(),
         {{0, Reply::New, 0},
          {100, Reply::New, 10},
          {5, Reply::None, 15},
          {25, Reply::New, 0}}},
        {"framewise drops a backlog of exactly interval + 5", PacerOptions::framewise(),
         {{0, Reply::New, 0},
          {85, Reply::New, 0},
          {86, Reply::New, 10}}},
        {"framewise holds and drops like seekmark", PacerOptions::framewise(),
         {{0, Reply::Null, 80},
          {5, Reply::Same, 0},
          {40, Reply::New, 0}}},
    };
    for (const Script &script : scripts)
        runScript(script);
}

TEST(FramePacer, AsksOnEveryEighthTickOfFiveMs)
{
    FramePacer pacer;
    pacer.setFrameRate(25.0);
    ASSERT_TRUE(pacer.tick(0).request);
    pacer.picture(0.0);
    std::vector<int> asking;
    double time = 0.0;
    for (int i = 1; i <= 80; ++i) {
        const FramePacer::TickDecision tick = pacer.tick(i * 5);
        EXPECT_FALSE(tick.late);
        if (tick.request) {
            asking.push_back(i);
            time += 0.04;
            pacer.picture(time);
        }
    }
    EXPECT_EQ(asking, (std::vector<int>{8, 16, 24, 32, 40, 48, 56, 64, 72, 80}));
}

TEST(FramePacer, EqualTimeStampCountsAsHeld)
{
    FramePacer pacer;
    pacer.setFrameRate(25.0);
    pacer.tick(0);
    ASSERT_EQ(pacer.picture(0.52).outcome, FramePacer::Outcome::Show);
    pacer.tick(80);
    // A different packet with the same stamp is not uploaded again, and the backlog goes.
    const FramePacer::PictureDecision d = pacer.picture(0.52);
    EXPECT_EQ(d.outcome, FramePacer::Outcome::Repeat);
    EXPECT_EQ(d.accumulatedBefore, 80);
    EXPECT_EQ(pacer.accumulated(), 0);
    EXPECT_EQ(pacer.lastPictureTime(), 0.52);
}

TEST(FramePacer, TraceTextsCarryTheAccumulatorBeforeTheChange)
{
    FramePacer pacer;
    pacer.setFrameRate(25.0);
    pacer.tick(0);
    pacer.tick(23);  // 63 gathered
    EXPECT_EQ(pacer.noPicture().trace(), QByteArray("drop ZERO: 63\n"));
    EXPECT_EQ(pacer.picture(1.0).trace(), QByteArray());
    pacer.tick(33);  // 63 + 40 - 40 + 10
    EXPECT_EQ(pacer.picture(1.0).trace(), QByteArray("repeat ZERO: 73\n"));
}

TEST(FramePacer, LateTicksAndClockOddities)
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

    // A clock that runs back must never take time away (the midnight wrap of a time of day).
    const qint64 before = pacer.accumulated();
    const FramePacer::TickDecision back = pacer.tick(100);
    EXPECT_EQ(back.elapsed, 0);
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
    const Row rows[] = {
        {25.0, true, 40},  {30.0, true, 33},  {29.97, true, 33}, {24.0, true, 41},
        {20.0, true, 40},  {20.5, true, 48},  {30.5, true, 32},  {50.0, true, 20},
        {59.94, true, 16}, {60.0, true, 16},  {60.5, true, 40},  {120.0, true, 40},
        {0.0, true, 40},   {nan, true, 40},   {-25.0, true, 40},
        {25.0, false, 40}, {24.0, false, 41}, {60.0, false, 16}, {29.97, false, 33},
        {0.0, false, 40},  {-5.0, false, 40}, {nan, false, 40},  {inf, false, 40},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "rate " << row.rate << " limit " << row.limitRate);
        EXPECT_EQ(FramePacer::intervalForRate(row.rate, row.limitRate), row.interval);
    }
    FramePacer framewise(PacerOptions::framewise());
    EXPECT_EQ(framewise.setFrameRate(50.0), 20);
    EXPECT_EQ(framewise.frameInterval(), 20);
    FramePacer seekmark(PacerOptions::seekmark());
    EXPECT_EQ(seekmark.setFrameRate(50.0), 20);
    EXPECT_EQ(seekmark.setFrameRate(100.0), 40);   // a field rate or nonsense: 25
}

} // namespace
