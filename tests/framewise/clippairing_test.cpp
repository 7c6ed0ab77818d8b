// Which clip moves when framewise's two pictures disagree.
#include "framewise/clippairing.h"

#include <gtest/gtest.h>

namespace {

using Step = ClipPairing::Step;

TEST(ClipPairing, Compare)
{
    struct Row {
        const char *name;
        double time1, time2;
        int offset1, offset2;   // pictures of 40 ms
        Step step;
        bool exact = false;     // setSameInstant(0): no tolerance
    };
    const Row rows[] = {
        {"second behind by one picture", 1.00, 0.96, 0, 0, Step::SkipSecond},
        {"second ahead by one picture", 1.00, 1.04, 0, 0, Step::AdvanceFirst},
        {"equal at the start", 0.0, 0.0, 0, 0, Step::InStep},
        {"second behind by 2 ms", 1.000, 0.998, 0, 0, Step::SkipSecond},
        // One picture stamped in different time bases: 12 at 1/25 s, 480 ms, 43200 at 1/90000 s
        // (which differs from the others in its last bits as a double).
        {"rounding of milliseconds", 12 * (1 / 25.0), 480 * 0.001, 0, 0, Step::InStep},
        {"rounding of 1/90000", 43200 * (1 / 90000.0), 12 * (1 / 25.0), 0, 0, Step::InStep},
        {"Matroska's rounded 29.97 stamp", 1001 / 30000.0, 0.033, 0, 0, Step::InStep},
        {"first clip shifted one picture", 1.00, 1.04, 1, 0, Step::InStep},
        {"second clip shifted one picture", 1.04, 1.00, 0, 1, Step::InStep},
        {"shift turns equal into behind", 1.00, 1.00, 1, 0, Step::SkipSecond},
        {"shift turns equal into ahead", 1.00, 1.00, 0, 1, Step::AdvanceFirst},
        {"exact: equal", 1.0, 1.0, 0, 0, Step::InStep, true},
        {"exact: behind by a nanosecond", 1.0, 1.0 - 1e-9, 0, 0, Step::SkipSecond, true},
        {"exact: ahead by a nanosecond", 1.0, 1.0 + 1e-9, 0, 0, Step::AdvanceFirst, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ClipPairing pairing;
        pairing.setFrameInterval(40);
        if (row.exact)
            pairing.setSameInstant(0.0);
        pairing.setOffsets(row.offset1, row.offset2);
        EXPECT_EQ(pairing.compare(row.time1, row.time2), row.step);
    }
}

TEST(ClipPairing, ReorderingShifts)
{
    struct Row {
        const char *name;
        bool enabled;
        int reorder1, reorder2;
        int offset1, offset2;
    };
    const Row rows[] = {
        {"off by default", false, 1, 0, 0, 0},
        {"first reorders: second shifted", true, 1, 0, 0, 1},
        {"second reorders: first shifted", true, 0, 2, 1, 0},
        {"both reorder", true, 1, 1, 0, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ClipPairing pairing;
        pairing.setReorderOffsets(row.enabled);
        pairing.noteReordering(row.reorder1, row.reorder2);
        pairing.noteReordering(0, 0);   // never taken back
        EXPECT_EQ(pairing.offset1(), row.offset1);
        EXPECT_EQ(pairing.offset2(), row.offset2);
    }
    using R = ClipPairing::Realign;
    EXPECT_EQ(ClipPairing::realignAfterSeek(1, 0), R::AdvanceFirst);
    EXPECT_EQ(ClipPairing::realignAfterSeek(0, 3), R::AdvanceSecond);
    EXPECT_EQ(ClipPairing::realignAfterSeek(2, 2), R::None);
}

} // namespace
