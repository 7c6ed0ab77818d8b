// The time a picture, a sound block or a packet gets when stamps are missing.
#include "engine/timestampfallback.h"

#include <gtest/gtest.h>

namespace {
constexpr int64_t none = TimestampFallback::none;
}

TEST(TimestampFallback, TakesTheFirstKnownStamp)
{
    const struct {
        int64_t bestEffort, pts, previous, step, expected;
    } pictures[] = {
        {7, 9, 1, 2, 7}, {none, 9, 1, 2, 9}, {none, none, 1, 2, 3},
        {none, none, 1, none, 100}, {none, none, none, 2, 100},
    };
    for (const auto &row : pictures)
        EXPECT_EQ(TimestampFallback::picture(row.bestEffort, row.pts, row.previous, row.step, 100), row.expected);
    const struct {
        int64_t bestEffort, expected, result;
    } sounds[] = {{7, 9, 7}, {none, 9, 9}, {none, none, 100}};
    for (const auto &row : sounds)
        EXPECT_EQ(TimestampFallback::sound(row.bestEffort, row.expected, 100), row.result);
    EXPECT_EQ(TimestampFallback::packet(5, 6), 5);
    EXPECT_EQ(TimestampFallback::packet(none, 6), 6);
    EXPECT_EQ(TimestampFallback::packet(none, none), none);
}
