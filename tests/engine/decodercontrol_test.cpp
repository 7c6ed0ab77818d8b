// Driving a running decoder: seeks and their acknowledgement, stop and rewind, the end of the
// input in both forms, back-pressure, pause, and a decoder destroyed from the events its picture
// scheduler processes.
#include "enginetestsupport.h"

#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"
#include "tests/common/framenumber.h"
#include "tests/common/testclips.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

// The frame number of the picture the scheduler shows now.
int takeShown(DecoderAgent &decoder)
{
    const PixelPacket *shown = decoder.videoAgent()->current();
    return shown ? testsupport::readFrameNumber(shown->m_Buffer, 320, 240) : -1;
}

// Counts a decoder's signals on the test's thread.
struct SignalCounts {
    explicit SignalCounts(DecoderAgent &decoder)
    {
        QObject::connect(&decoder, &DecoderAgent::seekDone, &context, [this] { ++seekDones; });
        QObject::connect(&decoder, &DecoderAgent::videoEnd, &context, [this] { ++videoEnds; });
    }
    QObject context;
    int seekDones = 0;
    int videoEnds = 0;
};

// Every container lands on the last keyframe at or before the target: at most half a picture after
// it (a picture stamped that little late is the one at the target; times count from the first
// picture) and less than one keyframe interval before it. Inputs searched by decoding time (MPEG-TS, MPEG-PS, with B-frames) landed a
// keyframe late; MPEG-TS also starts late (11.4 s here). Without sound nothing acknowledges a seek.
TEST(DecoderControl, SeeksLandOnTheKeyframeAtOrBeforeTheTargetAndAreAcknowledgedOnceWithSound)
{
    const struct {
        const char *name;
        bool byteSource;
        double rate, keyframeEvery;   // pictures a second; seconds
    } cases[] = {{"h264_long.mp4", true, 25, 1},      {"h264_nobframes.mkv", false, 25, 1},
                 {"vp9_opus.mkv", false, 25, 1},      {"sound_hole.mkv", false, 25, 1},
                 {"ts_offset10.ts", true, 25, 1},     {"sound_short60.ts", false, 60, 1},
                 {"mpeg2_mp2.mpg", true, 25, 1},      {"mpeg2_gop12.mpg", false, 25, 0.48},
                 {"h264_noaudio.mp4", false, 25, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FileByteSource source(testsupport::clipPath(c.name));
        DecoderAgent decoder(c.byteSource ? &source : nullptr, fast(EngineOptions::seekmark()));
        ASSERT_TRUE(c.byteSource ? decoder.open() : decoder.open(testsupport::clipPath(c.name)));
        const bool sound = decoder.hasAudio();
        SignalCounts counts(decoder);
        decoder.start();
        double first = 0.0;   // after the input's start by the sound's priming in some containers
        ASSERT_EQ(nextNumber(decoder, &first), 0);

        int seeks = 0;
        for (int target : {static_cast<int>(decoder.duration()) - 2, 3, 2, 1}) {
            decoder.seek(target);
            ++seeks;
            EXPECT_EQ(decoder.lastSeek(), target);
            EXPECT_FALSE(decoder.lastSeekFailed());
            double time = 0.0;
            const int number = nextNumber(decoder, &time);
            EXPECT_TRUE(time - first <= target + 0.5 / c.rate + 1e-6 && time - first > target - c.keyframeEvery)
                << "seek " << target << " landed at " << time;
            EXPECT_NEAR(time, number / c.rate, 0.05) << "seek " << target;
            if (sound) {
                EXPECT_TRUE(waitFor([&] {
                    decoder.audioQueue().flush();
                    return counts.seekDones >= seeks;
                }));
            }
        }
        if (!sound) {   // read on to the end: still no acknowledgement
            EXPECT_TRUE(waitFor([&] {
                decoder.videoAgent()->pictures().flush();
                return counts.videoEnds > 0;
            }));
            EXPECT_TRUE(decoder.isSeekPending());
        }
        decoder.stop();
        QCoreApplication::processEvents();
        EXPECT_EQ(counts.seekDones, sound ? seeks : 0);
    }
    // A seek libavformat refuses (here: its search cannot read) is a failed seek, never a landing.
    FileByteSource source(testsupport::clipPath("ts_offset10.ts"));
    DecoderAgent decoder(&source, fast(EngineOptions::seekmark()));
    ASSERT_TRUE(decoder.open());
    SignalCounts counts(decoder);
    source.failReads.store(true);
    decoder.seek(4);
    EXPECT_TRUE(decoder.lastSeekFailed());
    EXPECT_FALSE(decoder.isSeekPending());
    decoder.start();
    settle(300);
    EXPECT_EQ(counts.seekDones, 0);
}

TEST(DecoderControl, StopEmptiesTheQueuesAndRewinds)
{
    FileByteSource source(testsupport::clipPath("h264_aac.mp4"));
    DecoderAgent decoder(&source, fast(EngineOptions::seekmark()));
    ASSERT_TRUE(decoder.open());
    decoder.start();
    decoder.seek(5);
    ASSERT_EQ(nextNumber(decoder), 125);
    ASSERT_TRUE(waitFor([&] { return decoder.videoAgent()->pictures().count() > 5; }));

    decoder.stop();
    EXPECT_TRUE(decoder.isStopped());
    EXPECT_TRUE(decoder.videoAgent()->pictures().isEmpty());
    EXPECT_TRUE(decoder.audioQueue().isEmpty());
    EXPECT_TRUE(decoder.isSeekPending());
    EXPECT_EQ(decoder.lastSeek(), 0);
    EXPECT_EQ(decoder.nextAudioPacket(), nullptr);
    decoder.seek(3);
    decoder.stop();   // a second stop does nothing: no rewind
    EXPECT_EQ(decoder.lastSeek(), 3);

    decoder.seek(0);
    decoder.start();
    EXPECT_EQ(nextNumber(decoder), 0);
}

TEST(DecoderControl, TheSeekmarkFormStopsAtTheEndOnceThePicturesAreShown)
{
    DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
    ASSERT_TRUE(decoder.open(testsupport::clipPath("h264_60fps.mp4")));
    SignalCounts counts(decoder);
    decoder.start();
    // All but 25 of the 240 pictures: the rest fit the queue, so the reading reaches the end.
    for (int taken = 0; taken < 215; ++taken)
        ASSERT_GE(nextNumber(decoder), 0);
    ASSERT_TRUE(waitFor([&] {
        decoder.audioQueue().flush();
        return decoder.isEof() && decoder.videoAgent()->pictures().count() == 25;
    }));
    settle(200);
    EXPECT_EQ(counts.videoEnds, 0);   // pictures still to show
    EXPECT_FALSE(decoder.isStopped());

    for (int i = 215; i < 240; ++i)
        EXPECT_EQ(nextNumber(decoder), i);
    EXPECT_TRUE(waitFor([&] { return counts.videoEnds == 1 && decoder.isStopped(); }));
    settle(200);   // a second signal would arrive here
    EXPECT_EQ(counts.videoEnds, 1);

    decoder.start();   // after the end: nothing more to read, ends again
    EXPECT_TRUE(waitFor([&] { return counts.videoEnds == 2; }));
}

TEST(DecoderControl, TheFramewiseFormKeepsPollingAtTheEndAndResumesAfterASeek)
{
    DecoderAgent decoder(nullptr, fast(EngineOptions::framewise()));
    ASSERT_TRUE(decoder.open(testsupport::clipPath("h264_noaudio.mp4")));
    SignalCounts counts(decoder);
    ASSERT_EQ(decodeAll(decoder, 200).pictures.size(), 200u);
    settle(200);
    EXPECT_TRUE(decoder.isRunning());
    EXPECT_FALSE(decoder.isEof());
    EXPECT_EQ(counts.videoEnds, 0);
    decoder.seek(2);
    EXPECT_EQ(nextNumber(decoder), 50);
    EXPECT_EQ(nextNumber(decoder), 51);
}

TEST(DecoderControl, PauseStopsTheWorkerOrOnlyTheSound)
{
    for (const EngineOptions &options : {fast(EngineOptions::seekmark()), fast(EngineOptions::framewise())}) {
        const bool seekmark = options.logChannels;
        SCOPED_TRACE(seekmark ? "seekmark" : "framewise");
        DecoderAgent decoder(nullptr, options);
        ASSERT_TRUE(decoder.open(testsupport::clipPath("h264_long.mp4")));
        decoder.start();
        decoder.pause();
        EXPECT_EQ(decoder.isPaused(), seekmark);
        if (seekmark)
            decoder.start();   // seekmark's pause stops the worker: resume it to fill up
        ASSERT_TRUE(waitFor([&] {
            if (seekmark)
                decoder.audioQueue().flush();
            return decoder.videoAgent()->pictures().count() >= VideoAgent::queueCapacity;
        }));
        decoder.pause();
        decoder.start();   // seekmark's resume flushes both queues, framewise's never
        EXPECT_FALSE(decoder.isPaused());
        EXPECT_EQ(decoder.videoAgent()->pictures().count() < 10, seekmark);
    }
}

// framewise: every request shows the next picture and sets the clock to it, however far ahead the
// clock was. seekmark without sound: the pictures play at their own times, and P holds them.
TEST(DecoderControl, WithoutASoundClockThePicturesDriveIt)
{
    for (const EngineOptions &options : {fast(EngineOptions::framewise()), fast(EngineOptions::seekmark())}) {
        const bool framewise = options.noAudioClock;
        SCOPED_TRACE(framewise ? "framewise" : "seekmark");
        DecoderAgent decoder(nullptr, options);
        ASSERT_TRUE(decoder.open(testsupport::clipPath(framewise ? "h264_aac.mp4" : "h264_noaudio.mp4")));
        decoder.start();
        ASSERT_TRUE(waitFor([&] { return decoder.videoAgent()->pictures().count() >= 20; }));
        if (framewise)
            decoder.m_Clock.store(100.0);
        else
            decoder.pause();
        for (int i = 0; i < 20; ++i) {
            PixelPacket *picture = decoder.nextPicture();
            ASSERT_NE(picture, nullptr);
            EXPECT_EQ(testsupport::readFrameNumber(picture->m_Buffer, 320, 240), framewise ? i : 0);
            if (framewise)
                EXPECT_DOUBLE_EQ(decoder.m_Clock.load(), picture->m_Time);
        }
        if (framewise)
            continue;
        decoder.start();   // the queues were flushed: the pictures go on from further on, at 25 a second
        int first = -1;
        ASSERT_TRUE(waitFor([&] { return decoder.nextPicture() && (first = takeShown(decoder)) > 0; }));
        QElapsedTimer elapsed;
        for (elapsed.start(); elapsed.elapsed() < 400; QThread::msleep(5))
            decoder.nextPicture();
        EXPECT_NEAR(takeShown(decoder) - first, 10, 3);
    }
}

TEST(DecoderControl, ADecoderDestroyedFromTheDropLoopsEventsGoesSafely)
{
    auto *decoder = new DecoderAgent(nullptr, fast(EngineOptions::seekmark()));
    QPointer<DecoderAgent> watch(decoder);
    ASSERT_TRUE(decoder->open(testsupport::clipPath("h264_aac.mp4")));
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
    struct Row {
        int mark, pictures;
        bool soundQueued;
        int audioBlocks;
        bool catchingUp;
    };
    const Row rows[] = {
        {16, 0, true, 0, true},      // after a seek or at the start: both empty
        {16, 15, true, 31, true},    // pictures running low (60 pictures a second)
        {16, 31, true, 15, true},    // sound running low
        {16, 16, true, 16, false},   // both half full: the designed cadence
        {16, 20, false, 0, false},   // no sound queued (framewise, silent clips): pictures decide
        {16, 3, false, 0, true},
        {0, 0, true, 0, false},      // off
        {-1, 0, false, 0, false},
    };
    for (const Row &r : rows)
        EXPECT_EQ(DecoderAgent::catchingUp(r.mark, r.pictures, r.soundQueued, r.audioBlocks), r.catchingUp)
            << "mark " << r.mark << " pictures " << r.pictures << " sound " << r.soundQueued << " blocks "
            << r.audioBlocks;
    // Reading waits for a queue at its mark of 31 only while the other has 16 or more queued, and
    // always at the hard limits (here 100 pictures, 128 blocks).
    const struct {
        int pictures;
        bool soundQueued;
        int audioBlocks;
        bool waits;
    } reading[] = {
        {31, true, 16, true},   {31, true, 15, false},  {99, true, 0, false}, {100, true, 0, true},
        {16, true, 31, true},   {15, true, 31, false},  {0, true, 127, false}, {0, true, 128, true},
        {30, true, 30, false},  {31, false, 0, true},   {30, false, 0, false},
    };
    for (const auto &r : reading)
        EXPECT_EQ(DecoderAgent::readingWaits(r.pictures, 100, r.soundQueued, r.audioBlocks), r.waits)
            << r.pictures << " pictures, " << r.audioBlocks << " blocks";
}

// Reads that stall longer than the queued sound lasts leave gaps in the sound, and they are
// counted (after a pause and restart, which flushes the queues, as at any time).
TEST(DecoderControl, GapsInTheSoundAreCounted)
{
    FileByteSource source(testsupport::clipPath("h264_long.mp4"));
    DecoderAgent decoder(&source, EngineOptions::seekmark());
    ASSERT_TRUE(decoder.open());
    decoder.start();
    ASSERT_TRUE(waitFor([&] { return decoder.m_Clock.load() > 0.5; }));
    const int before = decoder.soundGaps();
    decoder.pause();
    settle(300);
    decoder.start();
    source.delayMs.store(1500);
    // Pictures are taken as a display would: sound later than the first picture waits for them.
    EXPECT_TRUE(waitFor([&] { return decoder.nextPicture(), decoder.soundGaps() > before; }, 20000));
    source.delayMs.store(0);
    decoder.stop();
}

} // namespace
