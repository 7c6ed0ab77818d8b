// How framewise counts each clip's picture times from the clip's own first picture.
#include "framewise/startalignment.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Clip = StartAlignment::Clip;

TEST(StartAlignment, StartsFromTheFirstPictureOfEachClipUnlessASeekCameFirst)
{
    struct Event {
        enum Kind { Picture, Seek } kind;
        Clip clip;
        double time;
    };
    struct Row {
        const char *name;
        std::vector<Event> events;
        bool settled;
        double start1, start2;
    };
    const Event seek{Event::Seek, Clip::First, 0.0};
    const Row rows[] = {
        {"nothing seen", {}, false, 0.0, 0.0},
        {"only the first clip seen", {{Event::Picture, Clip::First, 0.0}}, false, 0.0, 0.0},
        // Matroska with AAC priming: the second clip's pictures come 21 ms late.
        {"both seen",
         {{Event::Picture, Clip::First, 0.0}, {Event::Picture, Clip::Second, 0.021}},
         true, 0.0, 0.021},
        {"later pictures do not move the start",
         {{Event::Picture, Clip::First, 0.0},
          {Event::Picture, Clip::First, 0.04},
          {Event::Picture, Clip::Second, 0.021},
          {Event::Picture, Clip::Second, 0.061}},
         true, 0.0, 0.021},
        {"the second clip's first picture may come a tick later",
         {{Event::Picture, Clip::First, 0.0},
          {Event::Picture, Clip::First, 0.04},
          {Event::Picture, Clip::Second, 0.0}},
         true, 0.0, 0.0},
        {"a seek before both were seen: compared as stamped",
         {{Event::Picture, Clip::First, 0.5}, seek, {Event::Picture, Clip::Second, 6.021}},
         true, 0.0, 0.0},
        {"a seek afterwards changes nothing",
         {{Event::Picture, Clip::First, 1.4}, {Event::Picture, Clip::Second, 0.0}, seek,
          {Event::Picture, Clip::First, 9.0}},
         true, 1.4, 0.0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        StartAlignment alignment;
        for (const Event &e : row.events) {
            if (e.kind == Event::Seek)
                alignment.seeked();
            else
                alignment.picture(e.clip, e.time);
        }
        EXPECT_EQ(alignment.settled(), row.settled);
        EXPECT_DOUBLE_EQ(alignment.start(Clip::First), row.start1);
        EXPECT_DOUBLE_EQ(alignment.start(Clip::Second), row.start2);
        EXPECT_DOUBLE_EQ(alignment.relative(Clip::Second, 3.0), 3.0 - row.start2);
        EXPECT_DOUBLE_EQ(alignment.relative(Clip::First, 3.0), 3.0 - row.start1);
    }
}

} // namespace
