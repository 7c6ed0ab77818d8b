// Where an input's time begins: the rows are what libavformat reports for clips made with the
// ffmpeg tool (µs; the start of the input, then of its first video stream).
#include "engine/inputstart.h"

#include <gtest/gtest.h>

namespace {
constexpr int64_t none = InputStart::none;
}

TEST(InputStart, TakesLateAndUnwrappedStartsButNotTheSoundsPriming)
{
    const struct {
        const char *clip;
        int64_t format, video;
        int wrapBits;
        int64_t interval, start;
    } rows[] = {
        {"MP4, AAC priming hidden by the edit list", 0, 0, 64, 40000, 0},
        {"MPEG-TS, the muxer's delay", 1458667, 1480000, 33, 40000, 1458667},
        {"MPEG-TS at 20001 s", 20001378667, 20001400000, 33, 40000, 20001378667},
        {"MPEG-TS wrapping 3 s in, video only", -3000000, -3000000, 33, 40000, -3000000},
        {"MPEG-TS wrapping 1.6 s in, AAC before the video", -1621333, -1600000, 33, 40000, -1621333},
        {"MPEG-TS whose sound alone starts before the wrap", -21000, 0, 33, 40000, -21000},
        {"MPEG-PS wrapping 3.7 s in, MP2", -3727711, -3717689, 33, 40000, -3727711},
        {"Matroska, Opus pre-skip", -7000, 7000, 64, 40000, 0},
        {"Matroska, AAC priming kept negative", -21000, 0, 64, 40000, 0},
        {"WebM, Opus pre-skip, no picture rate", -7000, 7000, 64, 0, 0},
        {"pictures a rounding before 0", -21000, -1000, 64, 40000, 0},
        {"pictures 80 ms before 0", -80000, -80000, 64, 40000, -80000},
        {"240 fps, pictures 4 ms before 0", -21000, -4167, 64, 4167, -21000},
        {"no video start", -21000, none, 64, 40000, 0},
        {"no start at all", none, none, 33, 40000, 0},
    };
    for (const auto &row : rows)
        EXPECT_EQ(InputStart::choose(row.format, row.video, row.wrapBits, row.interval), row.start) << row.clip;
}
