#include "accessfakes.h"

#include "access/videoengine.h"

#include <gtest/gtest.h>

namespace {

TEST(VideoEngine, LooksDriversUpByExactSchemeAndReplacesWithoutDeleting)
{
    RecordingDriver first;
    RecordingDriver second;
    auto *engine = new VideoEngine;
    EXPECT_FALSE(engine->hasDriver("file"));
    EXPECT_EQ(engine->driver("file"), nullptr);

    engine->registerDriver("file", &first);
    engine->registerDriver("file", &second);
    engine->registerDriver("mem", &first);
    struct Case {
        const char *scheme;
        VideoDriver *driver;
    };
    const Case cases[] = {
        {"file", &second}, {"mem", &first}, {"FILE", nullptr}, {"File", nullptr},
        {"file ", nullptr}, {"", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scheme);
        EXPECT_EQ(engine->hasDriver(c.scheme), c.driver != nullptr);
        EXPECT_EQ(engine->driver(c.scheme), c.driver);
    }

    // Neither the replaced driver nor the engine's end touches the drivers.
    delete engine;
    EXPECT_EQ(first.open("x"), 100);
    EXPECT_EQ(second.open("y"), 100);
}

} // namespace
