// What framewise's pairing relies on, on the decoders alone: after a seek made while a framewise
// decoder runs, every picture still carries its own presentation time, whether the stream
// reorders pictures or not (from the start, the engine tests check every clip). Two encodes of
// one source then hand out the same picture under the same time, so the player compares the
// times as they are, with no shift for the clip that reorders.
#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"
#include "tests/common/framenumber.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QThread>

#include <string>
#include <vector>

namespace {

struct Picture {
    double time;
    int number;
};

std::string describe(const std::vector<Picture> &pictures)
{
    std::string s;
    for (const Picture &p : pictures)
        s += " " + std::to_string(p.number) + "@" + std::to_string(p.time);
    return s;
}

// Takes the next count pictures. Only queued pictures are asked for, so every request advances
// (a framewise decoder has no clock to hold against).
std::vector<Picture> takePictures(DecoderAgent &decoder, int count)
{
    std::vector<Picture> out;
    const QDeadlineTimer deadline(20000);
    while (int(out.size()) < count && !deadline.hasExpired()) {
        if (decoder.videoAgent()->pictures().count() == 0) {
            QThread::msleep(2);
        } else if (PixelPacket *p = decoder.nextPicture()) {
            out.push_back({p->m_Time, testsupport::readFrameNumber(p->m_Buffer, decoder.videoWidth(), decoder.videoHeight())});
        }
    }
    return out;
}

// The first picture's time, then the first twelve pictures after a seek to each of seconds, made
// while the worker is well into the clip.
std::pair<double, std::vector<std::vector<Picture>>> picturesAfterSeeks(const char *clip, std::initializer_list<int> seconds)
{
    std::pair<double, std::vector<std::vector<Picture>>> out{-1.0, {}};
    DecoderAgent decoder(nullptr, EngineOptions::framewise());
    if (!decoder.open(testsupport::clipPath(clip))) {
        ADD_FAILURE() << "cannot open " << clip;
        return out;
    }
    decoder.start();
    for (int second : seconds) {
        const std::vector<Picture> before = takePictures(decoder, 5);
        if (out.first < 0 && !before.empty())
            out.first = before[0].time;
        decoder.seek(second);
        out.second.push_back(takePictures(decoder, 12));
    }
    decoder.stop();
    return out;
}

TEST(PairedClips, AfterASeekEveryPictureCarriesItsOwnTimeAndTwoEncodesAgree)
{
    const std::initializer_list<int> seconds = {6, 1, 3};
    // The MP4 and the MKV are one source with and without B-frames, muxed so that their pictures
    // keep identical stamps (the MKV keeps its audio priming below zero); keyframes every second.
    std::vector<std::pair<double, std::vector<std::vector<Picture>>>> byClip;
    for (const char *clip : {"h264_aac.mp4", "h264_nobframes.mkv", "mpeg2_mp2.mpg", "vp9_opus.mkv"}) {
        SCOPED_TRACE(clip);
        byClip.push_back(picturesAfterSeeks(clip, seconds));
        const double origin = byClip.back().first;   // times count from the first picture
        ASSERT_GE(origin, 0.0);
        ASSERT_EQ(byClip.back().second.size(), seconds.size());
        auto second = seconds.begin();
        for (const std::vector<Picture> &pictures : byClip.back().second) {
            SCOPED_TRACE("after a seek to " + std::to_string(*second));
            ASSERT_EQ(pictures.size(), 12u);
            // The keyframe at or before the second asked for; a clip whose video starts a few
            // milliseconds late has it a second earlier.
            EXPECT_LE(pictures[0].number, *second * 25) << describe(pictures);
            EXPECT_GE(pictures[0].number, (*second - 1) * 25) << describe(pictures);
            // In presentation order, each at its own time.
            for (size_t i = 0; i < pictures.size(); ++i) {
                EXPECT_TRUE(i == 0 || pictures[i].number == pictures[i - 1].number + 1) << describe(pictures);
                EXPECT_NEAR(pictures[i].time - origin, pictures[i].number / 25.0, 0.0015) << describe(pictures);
            }
            ++second;
        }
    }
    EXPECT_NEAR(byClip[0].first, byClip[1].first, 0.001);
    for (size_t s = 0; s < seconds.size(); ++s) {
        const std::vector<Picture> &mp4 = byClip[0].second[s];
        const std::vector<Picture> &mkv = byClip[1].second[s];
        EXPECT_EQ(mp4[0].number, mkv[0].number) << "mp4:" << describe(mp4) << "\nmkv:" << describe(mkv);
        EXPECT_NEAR(mp4[0].time, mkv[0].time, 0.001);
    }
}

} // namespace
