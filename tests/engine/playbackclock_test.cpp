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
    char op;           // p picture, s a callback with a chunk of 20 ms, o the same of before the restart,
                       // e a callback that found nothing, q queued, P pause, R resume, r restart, - none
    double time;       // the picture's or chunk's time
    int expected;      // picture: 0 show, 1 hold, 2 drop; sound: 0 play, 1 wait, 2 skip
    double clock;      // load() afterwards; none: unchecked
};

TEST(PlaybackClock, DecidesWhoDrivesByScript)
{
    const struct {
        const char *name;
        bool soundless;
        double buffer, delay;   // the device's, seconds
        std::vector<Step> steps;
    } scripts[] = {
        {"the clock is the sound as heard, runs between callbacks up to the next block and waits for a late one"
         " (a little late, it keeps the value run on); callbacks that find nothing hand it to the pictures once"
         " their silence is heard", false, 0.02, 0.04,
         {{0, 's', 0.0, 0, -0.02}, {0.01, '-', 0, 0, -0.01}, {0.05, '-', 0, 0, 0.0}, {0.05, 's', 0.02, 0, 0.0},
          {0.075, 's', 0.04, 0, 0.0245}, {0.3, '-', 0, 0, 0.0445}, {0.31, 'e', 0, 0, 0.06}, {0.32, 'e', 0, 0, 0.06},
          {0.42, '-', 0, 0, 0.16}}},
        {"with the sound driving, a late picture is dropped", false, 0, 0,
         {{0, 's', 2.0, 0, 2.02}, {0, 'p', 1.9, 2, 2.02}}},
        {"sound that starts late waits for the pictures to reach it", false, 0, 0,
         {{0, 'q', 0.0, 0, none}, {0, 's', 2.0, 1, 0.0}, {0.01, 'p', 0.0, 0, 0.0}, {1.0, 's', 2.0, 1, 0.99},
          {2.01, 's', 2.0, 0, 2.02}}},
        {"sound that starts before the pictures starts the clock", false, 0, 0,
         {{0, 'q', 0.3, 0, none}, {0, 's', 0.0, 0, 0.02}, {0.1, 'p', 0.3, 1, 0.02}}},
        {"a hole in the sound plays as silence while the pictures carry the clock", false, 0, 0,
         {{0, 's', 0.0, 0, 0.02}, {0.02, 's', 0.02, 0, 0.04}, {0.04, 's', 3.0, 1, 0.04}, {1.5, 'p', 1.5, 0, 1.5},
          {1.5, 's', 1.0, 2, 1.5}, {2.99, 's', 3.0, 0, 3.02}}},
        {"sound is judged by when it will be heard: behind the pictures it is skipped, taking over steps back"
         " less than a picture", false, 0.02, 0.04,
         {{0, 'p', 5.0, 0, 5.0}, {0.1, 's', 4.9, 2, 5.1}, {0.1, 's', 5.09, 0, 5.07}}},
        {"the first sound after a start that comes late plays from the first picture: the pictures wait for it", false,
         0, 0, {{0, 'p', 0.0, 0, 0.0}, {0.5, 's', 0.0, 0, 0.02}, {0.5, 'p', 0.2, 1, 0.02}}},
        {"after a restart the old sound neither plays nor sets the clock", false, 0, 0,
         {{0, 's', 1.0, 0, 1.02}, {0.01, 'r', 0, 0, 1.02}, {0.02, 'o', 1.02, 2, 1.02}, {0.03, 'p', 8.0, 0, 8.0},
          {0.05, 's', 8.02, 0, 8.04}}},
        {"paused, the clock stands and the pictures wait, also without sound", true, 0, 0,
         {{0, 'p', 0.0, 0, 0.0}, {0.04, 'p', 0.04, 0, 0.04}, {0.05, 'P', 0, 0, 0.05}, {1.0, 'p', 0.08, 1, 0.05},
          {1.0, 's', 0.06, 0, 0.05}, {2.0, 'R', 0, 0, 0.05}, {2.03, 'p', 0.08, 0, 0.08}}},
        {"a late picture is dropped, half a second late it pulls the clock back; a second ahead shows", true, 0, 0,
         {{0, 'p', 1.0, 0, 1.0}, {0.2, 'p', 1.04, 2, 1.2}, {0.7, 'p', 1.1, 0, 1.1}, {0.7, 'p', 3.0, 0, 3.0},
          {0.71, 'p', 3.5, 1, 3.01}}},
    };
    for (const auto &script : scripts) {
        SCOPED_TRACE(script.name);
        double now = 0.0;
        PlaybackClock clock([&now] { return now; });
        clock.setSoundless(script.soundless);
        clock.setDevice(script.buffer, script.delay);
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
                EXPECT_EQ(static_cast<int>(clock.sound(s.time, 0.02, clock.generation() - (s.op == 'o'), 0.0)), s.expected);
                [[fallthrough]];
            case 'e': clock.callbackDone(); break;
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
