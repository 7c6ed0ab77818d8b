// What framewise's pairing relies on, checked on the decoders alone: every picture a framewise
// decoder hands out carries its own presentation time, whether the stream reorders pictures
// (B-frames) or not, from the start and after seeks. Two encodes of one source then show the same
// picture at the same time counted from their first picture, so the player compares the times as
// they are, with no shift for the clip that reorders.
#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"

#include "tests/common/framenumber.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct Picture {
    double time;
    int number;
};

constexpr int kPictures = 12;

// Takes the next count pictures the scheduler hands out. Only queued pictures are asked for, so
// every request advances (a framewise decoder has no clock to hold against).
std::vector<Picture> takePictures(DecoderAgent &decoder, int count)
{
    std::vector<Picture> out;
    QElapsedTimer clock;
    clock.start();
    while (int(out.size()) < count && clock.elapsed() < 20000) {
        if (decoder.videoAgent()->pictures().count() == 0) {
            QThread::msleep(2);
            continue;
        }
        PixelPacket *p = decoder.nextPicture();
        if (!p)
            continue;
        out.push_back({p->m_Time, testsupport::readFrameNumber(p->m_Buffer, decoder.videoWidth(),
                                                               decoder.videoHeight())});
    }
    return out;
}

// The first pictures from the start (second < 0) or after a seek made while the decoder runs.
std::vector<Picture> picturesFrom(const QString &clip, int second, bool *reorders = nullptr)
{
    DecoderAgent decoder(nullptr, EngineOptions::framewise());
    if (!decoder.open(testsupport::clipPath(clip))) {
        ADD_FAILURE() << "cannot open " << clip.toStdString();
        return {};
    }
    decoder.start();
    if (second >= 0) {
        takePictures(decoder, 5);   // the worker is well into the clip when the seek comes
        decoder.seek(second);
    }
    std::vector<Picture> pictures = takePictures(decoder, kPictures);
    if (reorders)
        *reorders = decoder.hasBFrames();
    decoder.stop();
    return pictures;
}

std::string describe(const std::vector<Picture> &pictures)
{
    std::string s;
    for (const Picture &p : pictures)
        s += " " + std::to_string(p.number) + "@" + std::to_string(p.time);
    return s;
}

TEST(PairedClips, EveryPictureCarriesItsOwnPresentationTime)
{
    struct Row {
        const char *clip;
        bool reorders;
    };
    const Row rows[] = {
        {"h264_aac.mp4", true},
        {"h264_nobframes.mkv", false},
        {"mpeg2_mp2.mpg", true},
        {"vp9_opus.mkv", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.clip);
        bool reorders = false;
        const std::vector<Picture> start = picturesFrom(row.clip, -1, &reorders);
        ASSERT_EQ(start.size(), size_t(kPictures));
        EXPECT_EQ(reorders, row.reorders);
        EXPECT_EQ(start[0].number, 0) << describe(start);
        // Times counted from the clip's first picture, as the player compares them.
        const double origin = start[0].time;

        for (int second : {-1, 1, 3, 6}) {
            SCOPED_TRACE(second < 0 ? std::string("from the start") : "after a seek to " + std::to_string(second));
            const std::vector<Picture> pictures = second < 0 ? start : picturesFrom(row.clip, second);
            ASSERT_EQ(pictures.size(), size_t(kPictures));
            for (size_t i = 0; i < pictures.size(); ++i) {
                // In presentation order, one picture after another, each at its own time.
                if (i > 0) {
                    EXPECT_EQ(pictures[i].number, pictures[i - 1].number + 1) << describe(pictures);
                }
                EXPECT_NEAR(pictures[i].time - origin, pictures[i].number / 25.0, 0.0015)
                    << "picture " << pictures[i].number << describe(pictures);
            }
            if (second >= 0) {
                // The keyframe at or before the second asked for (one every second); a clip
                // whose video starts a few milliseconds late has it a second earlier.
                EXPECT_LE(pictures[0].number, second * 25) << describe(pictures);
                EXPECT_GE(pictures[0].number, (second - 1) * 25) << describe(pictures);
            }
        }
    }
}

// The two corpus encodes of one source differ only in B-frames and container, and are muxed so
// that their pictures keep identical time stamps (the Matroska one keeps its audio priming below
// zero instead of shifting the video). Both must then hand out the same picture under the same
// time, and a seek must land on the same keyframe in both: their keyframes sit exactly on every
// second.
TEST(PairedClips, TwoEncodesOfOneSourceAgreeWhateverTheAudioStart)
{
    for (int second : {-1, 1, 3, 6}) {
        SCOPED_TRACE(second < 0 ? std::string("from the start") : "after a seek to " + std::to_string(second));
        const std::vector<Picture> first = picturesFrom("h264_aac.mp4", second);
        const std::vector<Picture> other = picturesFrom("h264_nobframes.mkv", second);
        ASSERT_EQ(first.size(), size_t(kPictures));
        ASSERT_EQ(other.size(), size_t(kPictures));
        const int expected = second < 0 ? 0 : second * 25;
        EXPECT_EQ(first[0].number, expected) << describe(first);
        EXPECT_EQ(other[0].number, expected) << describe(other);
        EXPECT_NEAR(other[0].time, first[0].time, 0.001)
            << "mp4:" << describe(first) << "\nmkv:" << describe(other);
    }
}

} // namespace
