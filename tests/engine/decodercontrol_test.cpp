// Driving a running decoder over the corpus: what the open decoder reports, seeks and their
// acknowledgement, the reading rules, the first pictures before the sound, and a decoder destroyed
// from the events its picture scheduler processes. (Pause, framewise's steps and the end of a clip
// shown to its last picture are the players' tests, every picture in order the hostile corpus's.)
#include "enginetestsupport.h"

#include "engine/audioagent.h"
#include "engine/videoagent.h"

#include <QPointer>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace enginetest;

namespace {

// Every container lands on the last keyframe at or before the target: at most half a picture after
// it (a picture stamped that little late is the one at the target; times count from the first
// picture, which the sound's priming stamps late in MPEG-TS and Matroska) and less than one
// keyframe interval before it. Inputs searched by decoding time (MPEG-TS, MPEG-PS, with B-frames)
// landed a keyframe late; MPEG-TS also starts late (11.4 s here), or early (-2 s: its stamps wrap).
// Without sound nothing acknowledges a seek, and the clip read to its end says so once. Before
// that, what the open decoder reports, in both programs' forms.
TEST(DecoderControl, OpensAndSeeksToTheKeyframeAtOrBeforeTheTargetAcknowledgedOnceWithSound)
{
    // Refused first and kept: a failed open must let go of its audio device (SDL's dummy driver
    // takes one at a time), or the clips after it would open without one.
    std::vector<std::unique_ptr<DecoderAgent>> refused;
    for (const char *name : {"audio_only.m4a", "no_decoder.mkv", "no_such_clip.mp4"}) {
        refused.push_back(std::make_unique<DecoderAgent>(nullptr, fast(EngineOptions::seekmark())));
        EXPECT_FALSE(refused.back()->open(clipPath(name))) << name;
        EXPECT_TRUE(refused.back()->videoWidth() == 0 && !refused.back()->nextPicture() && !refused.back()->audioAgent());
    }
    // late: AVI stamps every picture after the first one picture after its content (an empty
    // chunk after the first): landings follow the stamps.
    const struct {
        const char *name;
        bool byteSource;
        double rate, keyframeEvery;   // pictures a second; seconds
        int late = 0;
    } cases[] = {{"h264_long.mp4", true, 25, 1},             {"h264_nobframes.mkv", false, 25, 1},
                 {"vp9_opus.mkv", false, 25, 1},             {"sound_hole.mkv", false, 25, 1},
                 {"ts_offset10.ts", true, 25, 1},            {"sound_short60.ts", false, 60, 1},
                 {"mpeg2_mp2.mpg", true, 25, 1},             {"mpeg2_gop12.mpg", false, 25, 0.48},
                 {"h264_noaudio.mp4", false, 25, 1},         {"odd_321x241.mkv", true, 25, 1},
                 {"surround51.mp4", true, 25, 1},            {"subtitles.mkv", true, 25, 1},
                 {"landing/avi_b.avi", true, 25, 1.12, 1},   {"landing/avi.avi", false, 25, 1, 1},
                 {"landing/flv_b.flv", true, 25, 1},         {"landing/flv.flv", false, 25, 1},
                 {"landing/mov_b.mov", true, 25, 1},         {"landing/mov.mov", false, 25, 1},
                 {"landing/mp4.mp4", false, 25, 1},          {"landing/webm_altref.webm", true, 25, 1},
                 {"landing/ts.ts", false, 25, 1},            {"landing/ts_two_tracks.ts", true, 25, 1},
                 {"landing/ts_wrap.ts", true, 25, 1},        {"landing/ps.mpg", true, 25, 1}};
    // Only the played streams are read: nothing of a second sound track or a subtitle stream.
    testsupport::MessageLog log({"bad picture packet"});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // The silent form (framewise) opens neither an audio decoder nor a device.
        DecoderAgent silent(nullptr, fast(EngineOptions::framewise()));
        EXPECT_TRUE(silent.open(clipPath(c.name)) && !silent.audioAgent());
        FileByteSource source(clipPath(c.name));
        DecoderAgent decoder(c.byteSource ? &source : nullptr, fast(EngineOptions::seekmark()));
        ASSERT_TRUE(c.byteSource ? decoder.open() : decoder.open(clipPath(c.name)));
        const bool sound = decoder.hasAudio();
        EXPECT_TRUE(!sound || (decoder.audioAgent()->channels() == 2 && decoder.audioAgent()->isDeviceOpen()));
        // Planar 4:2:0: 1.5 bytes a pixel, the odd size's chroma rounded up.
        const int w = decoder.videoWidth(), h = decoder.videoHeight();
        EXPECT_EQ(decoder.videoAgent()->pictures().bufferSize(), w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2) + VideoAgent::pictureSlack);
        // Stopped, the position climbs 40 ms a call and stops at the duration, also where that is
        // not a multiple of 40 ms (the step that crossed it once reported 8040 for 8021).
        for (qint64 last = 0, now; last < decoder.durationMs(); last = now)
            ASSERT_EQ(now = decoder.positionMs(), std::min(last + 40, decoder.durationMs()));
        EXPECT_EQ(decoder.positionMs(), decoder.durationMs());
        int seekDones = 0, videoEnds = 0;
        QObject context;   // counted on the test's thread
        QObject::connect(&decoder, &DecoderAgent::seekDone, &context, [&seekDones] { ++seekDones; });
        QObject::connect(&decoder, &DecoderAgent::videoEnd, &context, [&videoEnds] { ++videoEnds; });
        decoder.start();
        double first = 0.0;
        ASSERT_EQ(nextNumber(decoder, &first), 0);
        int seeks = 0;
        // An exact seek's first picture is the one at its target.
        const double exact = 1.52;
        // From the very start (anywhere in the first keyframe interval lands on the first picture),
        // mid-clip, in the last keyframe interval (a coarse search there found no keyframe after
        // it), backwards.
        const double d = decoder.duration();
        for (double target : {0.0, 0.1, d / 2, d - 0.5, 3.0, exact, 2.0, 1.0}) {
            // The exact seek's sound starts at its target too (the device paused, so the first
            // block waits in the queue).
            if (sound && target == exact)
                decoder.audioAgent()->pause();
            decoder.seekTo(target, target == exact ? SeekMode::Exact : SeekMode::Keyframe);
            ++seeks;
            if (sound && target == exact) {
                double heard = -1.0;
                EXPECT_TRUE(waitFor([&] {
                    return decoder.audioQueue().withCurrentHead(decoder.seekSerial(), [&](DataPacket *block) {
                        heard = static_cast<AudioPacket *>(block)->m_Pts * decoder.audioAgent()->timeBase();
                    });
                }));
                EXPECT_NEAR(heard, first - c.late / c.rate + exact, 1.0 / c.rate);
                decoder.audioAgent()->resume();
            }
            EXPECT_TRUE(decoder.seekSerial() == seeks && decoder.lastSeek() == int(target) && !decoder.lastSeekFailed());
            double time = 0.0;
            const int number = nextNumber(decoder, &time);
            // At or before the target as presented: judged by the frame number drawn in the picture.
            EXPECT_TRUE(number <= target * c.rate + 0.5 && number > (target - c.keyframeEvery) * c.rate - c.late)
                << "seek " << target << " landed on picture " << number << " stamped " << time - first;
            EXPECT_NEAR(time - first, (number + c.late) / c.rate, 0.05) << "seek " << target;
            // Played on from there, each picture once (the landing's keyframe is decoded twice).
            EXPECT_EQ(nextNumber(decoder), number + 1) << "seek " << target;
            if (target == exact) {
                EXPECT_EQ(number + c.late, std::lround(exact * c.rate));
            }
            EXPECT_TRUE(!sound || waitFor([&] { return decoder.audioQueue().flush(), seekDones >= seeks; }));
        }
        if (!sound) {   // read on to the end: still no acknowledgement
            EXPECT_TRUE(waitFor([&] { return decoder.videoAgent()->pictures().flush(), decoder.isStopped(); }));
            EXPECT_TRUE(decoder.isSeekPending());
        }
        settle(100);   // a second end or acknowledgement would arrive here
        EXPECT_EQ(videoEnds, sound ? 0 : 1);
        EXPECT_EQ(seekDones, sound ? seeks : 0);
        EXPECT_FALSE(log.contains("bad free packet"));
    }
    // A seek libavformat refuses (here: its search cannot read) is a failed seek, never a landing.
    FileByteSource source(clipPath("ts_offset10.ts"));
    DecoderAgent decoder(&source, fast(EngineOptions::seekmark()));
    ASSERT_TRUE(decoder.open());
    int seekDones = 0;
    QObject context;
    QObject::connect(&decoder, &DecoderAgent::seekDone, &context, [&seekDones] { ++seekDones; });
    int seekFails = 0;
    QObject::connect(&decoder, &DecoderAgent::seekFailed, &context, [&seekFails] { ++seekFails; });
    source.failReads.store(true);
    decoder.seek(4);
    decoder.start();
    EXPECT_TRUE(waitFor([&] { return decoder.lastSeekFailed() && seekFails == 1; }));
    EXPECT_FALSE(decoder.isSeekPending());
    settle(300);
    EXPECT_EQ(seekDones, 0);
}

// The scheduler's drop loop processes events: the decoder deleted from one of them goes safely.
TEST(DecoderControl, ADecoderDestroyedFromTheDropLoopsEventsGoesSafely)
{
    auto *decoder = new DecoderAgent(nullptr, fast(EngineOptions::seekmark()));
    QPointer<DecoderAgent> watch(decoder);
    ASSERT_TRUE(decoder->open(clipPath("h264_aac.mp4")));
    decoder->start();
    ASSERT_TRUE(waitFor([&] {
        return decoder->videoAgent()->pictures().count() >= 10 && decoder->m_Clock.driver() == PlaybackClock::Driver::Sound;
    }));
    decoder->pause();
    decoder->m_Clock.store(100.0);   // every queued picture is late: the drop loop runs
    QMetaObject::invokeMethod(QCoreApplication::instance(), [decoder] { delete decoder; }, Qt::QueuedConnection);
    EXPECT_EQ(decoder->nextPicture(), nullptr);
    EXPECT_TRUE(watch.isNull());
}

TEST(DecoderControl, TheWorkerReadsOnForTheStarvedStreamAndSkipsItsRestWhileAQueueIsLow)
{
    // mark, pictures, sound queued, audio blocks, catching up.
    const int catching[][5] = {
        {16, 0, 1, 0, 1},     // after a seek or at the start: both empty
        {16, 15, 1, 31, 1},   // pictures running low (60 pictures a second)
        {16, 31, 1, 15, 1},   // sound running low
        {16, 16, 1, 16, 0},   // both half full: the designed cadence
        {16, 20, 0, 0, 0},    // no sound queued (framewise, silent clips): pictures decide
        {16, 3, 0, 0, 1},     {0, 0, 1, 0, 0}, {-1, 0, 0, 0, 0},   // the last two: off
    };
    for (const auto &r : catching)
        EXPECT_EQ(DecoderAgent::catchingUp(r[0], r[1], r[2], r[3]), bool(r[4])) << r[0] << " " << r[1] << " " << r[3];
    // Reading waits for a queue at its mark (31 pictures, 18 of 1280x720 ones) only while the other
    // has 16 or more queued (a few pictures ran dry behind sound waiting for its time), and always
    // at the hard limits (here 100 pictures, 128 blocks). Pictures, sound queued, audio blocks,
    // waits; then the mark for pictures of a size.
    const int reading[][4] = {
        {31, 1, 16, 1}, {31, 1, 15, 0}, {99, 1, 0, 0},  {100, 1, 0, 1}, {16, 1, 31, 1}, {15, 1, 31, 0},
        {0, 1, 127, 0}, {0, 1, 128, 1}, {30, 1, 30, 0}, {31, 0, 0, 1},  {30, 0, 0, 0},
    };
    for (const auto &r : reading)
        EXPECT_EQ(DecoderAgent::readingWaits(r[0], 31, 100, r[1], r[2]), bool(r[3])) << r[0] << " " << r[2];
    EXPECT_TRUE(DecoderAgent::readingWaits(18, VideoAgent::markFor(1280 * 720 * 3 / 2), 100, true, 16));
    for (const auto &[w, h, mark] : {std::tuple{640, 360, 31}, {1280, 720, 18}, {1920, 1080, 16}, {3840, 2160, 16}})
        EXPECT_EQ(VideoAgent::markFor(int64_t(w) * h * 3 / 2), mark) << w << "x" << h;
}

// Formats whose index or search works by decoding time get the search moved back for B-frames;
// Matroska's cues are presentation times (moved back, a seek to a keyframe on a whole second
// ended one keyframe early and read a whole keyframe interval more).
TEST(DecoderControl, OnlySearchesByDecodingTimeAreMovedBack)
{
    const std::pair<const char *, bool> formats[] = {{"mpegts", true}, {"mpeg", true},  {"avi", true},
                                                     {"flv", true},    {"mov", false},  {"matroska", false}};
    for (const auto &[name, moved] : formats)
        EXPECT_EQ(Demuxer::searchesByDecodingTime(av_find_input_format(name)), moved) << name;
}

// The sound waits for the pictures: in a clip whose video starts 0.3 s after its sound (made once
// with the ffmpeg tool and kept in the build folder), the clock moves only once a few pictures are
// queued (nothing takes them here). Started by the sound alone, the clock ran ahead of the first
// 1080p pictures and the scheduler dropped them.
TEST(DecoderControl, TheClockWaitsForTheFirstPictures)
{
    const QString path = cachedClip("late_video.mkv", QString("-i '%1' -itsoffset 0.3 -i '%1' -map 1:v -map 0:a -t 3 -c copy -f matroska %2")
                                                          .arg(clipPath("h264_long.mp4"), "%1"));
    DecoderAgent decoder(nullptr, EngineOptions::seekmark());
    ASSERT_TRUE(decoder.open(path));
    decoder.start();
    ASSERT_TRUE(waitFor([&] { return decoder.m_Clock.load() > 0.0; }));
    EXPECT_GE(decoder.videoAgent()->pictures().count(), DecoderAgent::soundWaitsForPictures);
}

// A 30-second keyframe interval at 50 pictures a second with sound: the search for 30 s (moved
// back, FLV being searched by decoding time) ends on the keyframe at 0, and the landing holds some
// 2900 packets (small ones) before it reaches the keyframe at 30 s. A hold cut at 2000 packets
// landed 30 s early.
TEST(DecoderControl, ALongKeyframeIntervalStillLandsOnItsLastKeyframe)
{
    const QString path = cachedClip("long_gop.flv",
        "-f lavfi -i color=c=black:s=12x2:r=50:d=32 -f lavfi -i sine=sample_rate=48000:duration=32 "
        "-vf \"$(framenumber_filter 64 48)\" -c:v libx264 -preset veryfast -g 1500 -keyint_min 1500 -sc_threshold 0 "
        "-bf 3 -x264-params b-adapt=0 -c:a aac -b:a 32k -f flv %1");
    DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
    ASSERT_TRUE(decoder.open(path));
    decoder.start();
    decoder.seek(30);
    EXPECT_EQ(nextNumber(decoder), 1500);
}

} // namespace
