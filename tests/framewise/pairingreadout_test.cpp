// framewise's title readout after controls, and when the throttle lets a new title out. (What it
// says about the pairing is checked with the pairing itself.)
#include "framewise/pairingreadout.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using R = PairingReadout;
using Event = std::function<void(PairingReadout &)>;

// One tick: the first clip's picture shown, the second's taken and shown (none: no pair).
Event tick(double time1, std::vector<double> times2 = {})
{
    return [=](PairingReadout &r) {
        r.picture(R::First, time1);
        r.shown(R::First);
        for (double t : times2)
            r.picture(R::Second, t);
        if (times2.empty())
            return r.unpaired();
        r.shown(R::Second);
        r.paired(times2.size() > 1 ? R::Pairing::SkipSecond : R::Pairing::InStep, int(times2.size()) - 1);
    };
}

const Event none, pause = [](R &r) { r.setPaused(true); }, resume = [](R &r) { r.setPaused(false); },
                  showSecond = [](R &r) { r.setShowing(R::Second); }, seek = [](R &r) { r.seeked(12); };

TEST(PairingReadout, Title)
{
    // A time that rounds to zero is written as zero, never as "-0.000".
    const std::pair<std::vector<Event>, const char *> rows[] = {
        {{}, "framewise"},
        {{tick(0.0, {0.0}), tick(0.04, {0.02, 0.04}), seek}, "framewise - 1: - | 2: - | seeking to 12 s | skips 0, holds 0 | showing 1"},
        {{tick(1.0, {1.0}), showSecond, pause}, "framewise - 1: 1.000 s #0 | 2: 1.000 s #0 | in step | skips 0, holds 0 | showing 2 | paused"},
        {{tick(-1e-12, {-0.021})}, "framewise - 1: 0.000 s #0 | 2: -0.021 s #0 | in step | skips 0, holds 0 | showing 1"},
    };
    for (const auto &[events, title] : rows) {
        PairingReadout readout;
        for (const Event &e : events)
            e(readout);
        EXPECT_EQ(readout.title().toStdString(), title);
    }
}

// At each time something happens (or nothing) and the title is due or not; a due title is taken
// at once, as the player does. The bare name once; the first pair at once (nothing taken for
// long); a held-back change goes out on a later tick; controls at once; the first picture after a
// seek, though alone, at once; the pair that follows is throttled again.
TEST(PairingReadout, TitleThrottle)
{
    const std::tuple<qint64, Event, bool> rows[] = {
        {0, none, true},          {4, none, false},      {1000, tick(0.0, {0.0}), true}, {1040, tick(0.04, {0.04}), false},
        {1099, none, false},      {1100, none, true},    {1120, tick(0.12, {0.12}), false}, {1130, pause, true},
        {1131, showSecond, true}, {1150, resume, true},  {1160, tick(0.16, {0.16}), false}, {1170, seek, true},
        {1190, tick(4.0), true},  {1230, tick(4.04, {4.04}), false}, {1289, none, false}, {1290, none, true},
        {1400, none, false},
    };
    PairingReadout readout;
    for (const auto &[atMs, event, due] : rows) {
        SCOPED_TRACE(atMs);
        if (event)
            event(readout);
        ASSERT_EQ(readout.titleDue(atMs), due);
        if (due)
            EXPECT_EQ(readout.takeTitle(atMs), readout.title());
    }
}

} // namespace
