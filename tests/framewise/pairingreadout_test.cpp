// framewise's title readout: what it says after ticks and controls, and when the throttle lets a
// new title out.
#include "framewise/pairingreadout.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using Pairing = PairingReadout::Pairing;
using R = PairingReadout;
using Event = std::function<void(PairingReadout &)>;

// One tick as the pairing runs it: the first clip's picture shown, then the second clip's
// pictures taken (none when it holds, more than one when it skips), the last one shown.
Event tick(double time1, std::vector<double> times2 = {}, Pairing pairing = Pairing::InStep)
{
    return [=](PairingReadout &r) {
        r.picture(R::First, time1);
        r.shown(R::First);
        for (double t : times2)
            r.picture(R::Second, t);
        if (!times2.empty())
            r.shown(R::Second);
        r.paired(pairing, int(times2.size()) - 1);
    };
}

Event firstOnly(double time1)
{
    return [=](PairingReadout &r) {
        r.picture(R::First, time1);
        r.shown(R::First);
        r.unpaired();
    };
}

Event seek(int second)
{
    return [=](PairingReadout &r) { r.seeked(second); };
}

TEST(PairingReadout, Title)
{
    struct Row {
        const char *name;
        std::vector<Event> events;
        const char *title;
    };
    const Row rows[] = {
        {"nothing shown yet", {}, "framewise"},
        {"first pair",
         {tick(0.0, {0.0})},
         "framewise - 1: 0.000 s #0 | 2: 0.000 s #0 | in step | skips 0, holds 0 | showing 1"},
        {"a picture handed out again counts once",
         {tick(0.0, {0.0}), tick(0.04, {0.04}), tick(0.04, {0.04}), tick(0.08, {0.08})},
         "framewise - 1: 0.080 s #2 | 2: 0.080 s #2 | in step | skips 0, holds 0 | showing 1"},
        {"the second clip skips two pictures: all count, the last one is shown",
         {tick(0.0, {0.0}), tick(0.04, {0.0167, 0.0333, 0.05}, Pairing::SkipSecond)},
         "framewise - 1: 0.040 s #1 | 2: 0.050 s #3 | second skipped | skips 2, holds 0 | showing 1"},
        {"the second clip holds its picture",
         {tick(0.0, {0.0}), tick(0.0167, {}, Pairing::HoldSecond)},
         "framewise - 1: 0.017 s #1 | 2: 0.000 s #0 | second held | skips 0, holds 1 | showing 1"},
        {"no picture of the second clip yet",
         {firstOnly(0.0)},
         "framewise - 1: 0.000 s #0 | 2: - | no second picture | skips 0, holds 0 | showing 1"},
        {"a seek clears the pictures and the counts",
         {tick(0.0, {0.0}), tick(0.04, {}, Pairing::HoldSecond), tick(0.08, {0.04, 0.08}, Pairing::SkipSecond), seek(12)},
         "framewise - 1: - | 2: - | seeking to 12 s | skips 0, holds 0 | showing 1"},
        {"second clip on screen, paused",
         {tick(1.0, {1.0}), [](R &r) { r.setShowing(R::Second); }, [](R &r) { r.setPaused(true); }},
         "framewise - 1: 1.000 s #0 | 2: 1.000 s #0 | in step | skips 0, holds 0 | showing 2 | paused"},
        {"times below zero and a rounding zero",
         {tick(-1e-12, {-0.021})},
         "framewise - 1: 0.000 s #0 | 2: -0.021 s #0 | in step | skips 0, holds 0 | showing 1"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        PairingReadout readout;
        for (const Event &e : row.events)
            e(readout);
        EXPECT_EQ(readout.title().toStdString(), row.title);
        EXPECT_TRUE(readout.title().startsWith(PairingReadout::programName()));
    }
}

TEST(PairingReadout, TitleThrottle)
{
    // At each time something happens (or nothing) and the title is due or not; a due title is
    // taken at once, as the player does.
    struct Row {
        qint64 atMs;
        Event event;   // null: nothing happens
        bool due;
    };
    const Event none;
    const Event pause = [](R &r) { r.setPaused(true); };
    const Event resume = [](R &r) { r.setPaused(false); };
    const Event second = [](R &r) { r.setShowing(R::Second); };
    const Row rows[] = {
        {0, none, true},   // the bare name, once
        {4, none, false},
        {1000, tick(0.0, {0.0}), true},   // the first pair: nothing taken for long
        {1040, tick(0.04, {0.04}), false},
        {1080, tick(0.08, {0.08}), false},
        {1099, none, false},
        {1100, none, true},   // the held-back change goes out on a later tick
        {1104, none, false},   // nothing new
        {1120, tick(0.12, {0.12}), false},
        {1130, pause, true},   // controls at once
        {1131, second, true},
        {1150, resume, true},
        {1160, tick(0.16, {0.16}), false},
        {1170, seek(5), true},
        {1190, firstOnly(4.0), true},   // the first picture after a seek, though alone, at once
        {1230, tick(4.04, {4.04}), false},   // the pair that follows is throttled again
        {1289, none, false},
        {1290, none, true},
        {1400, none, false},
    };
    PairingReadout readout;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.atMs);
        if (row.event)
            row.event(readout);
        EXPECT_EQ(readout.titleDue(row.atMs), row.due);
        if (readout.titleDue(row.atMs)) {
            EXPECT_EQ(readout.takeTitle(row.atMs), readout.title());
        }
    }
}

} // namespace
