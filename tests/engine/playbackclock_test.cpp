// The playback clock by script, on a settable monotonic time: who drives it, when sound plays,
// waits or is skipped, and when a picture is shown or held.
#include "engine/playbackclock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double none = NAN;

struct Step {
    double at;         // monotonic seconds
    char op;           // p picture, s sound, o sound of before the restart, q queued, P pause,
                       // R resume, r restart
    double time;       // the picture's or block's time
    int expected;      // picture: 0 show, 1 hold, 2 drop; sound: 0 play, 1 wait, 2 skip
    double clock;      // load() afterwards; none: unchecked
};

TEST(PlaybackClock, DecidesWhoDrivesByScript)
{
    const struct {
        const char *name;
        bool soundless;
        std::vector<Step> steps;
    } scripts[] = {
        {"the sound drives; 100 ms without a block hands the clock to the pictures", false,
         {{0, 's', 0.0, 0, 0.0}, {0.02, 's', 0.02, 0, 0.02}, {0.03, 'p', 0.04, 0, 0.02}, {0.03, 'p', 0.5, 1, 0.02},
          {0.2, 'p', 0.5, 1, 0.2}, {0.49, 'p', 0.5, 0, 0.49}}},
        {"with the sound driving, a late picture is dropped", false,
         {{0, 's', 2.0, 0, 2.0}, {0, 'p', 1.9, 2, 2.0}}},
        {"sound that starts late waits for the pictures to reach it", false,
         {{0, 'q', 0.0, 0, none}, {0, 's', 2.0, 1, 0.0}, {0.01, 'p', 0.0, 0, 0.0}, {1.0, 's', 2.0, 1, 0.99},
          {2.01, 's', 2.0, 0, 2.0}}},
        {"sound that starts before the pictures starts the clock", false,
         {{0, 'q', 0.3, 0, none}, {0, 's', 0.0, 0, 0.0}, {0.1, 'p', 0.3, 1, 0.0}}},
        {"a hole in the sound plays as silence while the pictures carry the clock", false,
         {{0, 's', 0.0, 0, 0.0}, {0.02, 's', 0.02, 0, 0.02}, {0.04, 's', 3.0, 1, 0.04}, {1.5, 'p', 1.5, 0, 1.5},
          {2.99, 's', 3.0, 0, 3.0}}},
        {"sound behind the pictures is skipped; taking over steps back at most a picture", false,
         {{0, 'p', 5.0, 0, 5.0}, {0.1, 's', 4.9, 2, 5.1}, {0.1, 's', 5.07, 0, 5.07}}},
        {"after a restart the old sound neither plays nor sets the clock", false,
         {{0, 's', 1.0, 0, 1.0}, {0.01, 'r', 0, 0, 1.0}, {0.02, 'o', 1.02, 2, 1.0}, {0.03, 'p', 8.0, 0, 8.0},
          {0.05, 's', 8.02, 0, 8.02}}},
        {"paused, the clock stands and the pictures wait, also without sound", true,
         {{0, 'p', 0.0, 0, 0.0}, {0.04, 'p', 0.04, 0, 0.04}, {0.05, 'P', 0, 0, 0.05}, {1.0, 'p', 0.08, 1, 0.05},
          {1.0, 's', 0.06, 0, 0.05}, {2.0, 'R', 0, 0, 0.05}, {2.03, 'p', 0.08, 0, 0.08}}},
        {"a late picture is dropped, half a second late it pulls the clock back; a second ahead shows", true,
         {{0, 'p', 1.0, 0, 1.0}, {0.2, 'p', 1.04, 2, 1.2}, {0.7, 'p', 1.1, 0, 1.1}, {0.7, 'p', 3.0, 0, 3.0},
          {0.71, 'p', 3.5, 1, 3.01}}},
    };
    for (const auto &script : scripts) {
        SCOPED_TRACE(script.name);
        double now = 0.0;
        PlaybackClock clock([&now] { return now; });
        clock.setSoundless(script.soundless);
        for (size_t i = 0; i < script.steps.size(); ++i) {
            const Step &s = script.steps[i];
            SCOPED_TRACE(testing::Message() << "step " << i);
            now = s.at;
            switch (s.op) {
            case 'p':
                EXPECT_EQ(static_cast<int>(clock.picture(s.time, 10000000)), s.expected);
                break;
            case 's':
            case 'o':
                EXPECT_EQ(static_cast<int>(clock.sound(s.time, 0.02, clock.generation() - (s.op == 'o'))), s.expected);
                break;
            case 'q': clock.pictureQueued(s.time); break;
            case 'P': clock.pause(); break;
            case 'R': clock.resume(); break;
            case 'r': clock.restart(); break;
            }
            EXPECT_TRUE(std::isnan(s.clock) || std::abs(clock.load() - s.clock) < 1e-9) << clock.load();
        }
    }
}

} // namespace
