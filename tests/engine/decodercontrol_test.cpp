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
#include <QPointer>

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

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

TEST(DecoderControl, SeeksLandOnTheKeyframeAtOrBeforeTheTargetAndAreAcknowledgedOnceWithSound)
{
    struct SeekCase {
        const char *name;
        bool byteSource;
        int laterKeyframes;   // keyframes after the target that a landing may be on
    };
    // MPEG-TS has no index: libavformat's search by time stamps can end just past the keyframe
    // before the target, and decoding starts at the next one. The target must still count from
    // the clip's start (11.4 s here): counted from 0, every seek would land at the beginning.
    // Without sound a seek is never acknowledged.
    const SeekCase cases[] = {{"h264_long.mp4", true, 0}, {"h264_nobframes.mkv", false, 0},
                              {"vp9_opus.mkv", false, 0}, {"ts_offset10.ts", true, 1},
                              {"h264_noaudio.mp4", false, 0}};
    for (const SeekCase &c : cases) {
        SCOPED_TRACE(c.name);
        FileByteSource source(testsupport::clipPath(c.name));
        DecoderAgent decoder(c.byteSource ? &source : nullptr, fast(EngineOptions::seekmark()));
        ASSERT_TRUE(c.byteSource ? decoder.open() : decoder.open(testsupport::clipPath(c.name)));
        const bool sound = decoder.hasAudio();
        SignalCounts counts(decoder);
        decoder.start();
        ASSERT_EQ(nextNumber(decoder), 0);

        int seeks = 0;
        for (int target : {static_cast<int>(decoder.duration()) - 2, 3, 5, 1}) {
            decoder.seek(target);
            ++seeks;
            EXPECT_EQ(decoder.lastSeek(), target);
            double time = 0.0;
            const int number = nextNumber(decoder, &time);
            EXPECT_TRUE(number % 25 == 0 && number >= 25 * (target - 1) && number <= 25 * (target + c.laterKeyframes))
                << "seek " << target << " landed on " << number;
            EXPECT_NEAR(time, number / 25.0, 0.05) << "seek " << target;
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

TEST(DecoderControl, ReadingStopsWhileAQueueIsFull)
{
    FileByteSource source(testsupport::clipPath("h264_long.mp4"));
    DecoderAgent decoder(&source, fast(EngineOptions::seekmark()));
    ASSERT_TRUE(decoder.open());
    decoder.start();
    ASSERT_TRUE(waitFor([&] { return decoder.videoAgent()->pictures().isFull(); }));
    const qint64 bytes = source.bytesRead.load();
    settle(300);
    EXPECT_EQ(source.bytesRead.load(), bytes);
    EXPECT_FALSE(decoder.isEof());
    delete decoder.videoAgent()->pictures().take();   // room for one: the reading goes on
    EXPECT_TRUE(waitFor([&] { return decoder.videoAgent()->pictures().isFull(); }));
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
            return decoder.videoAgent()->pictures().isFull();
        }));
        decoder.pause();
        decoder.start();   // seekmark's resume flushes both queues, framewise's never
        EXPECT_FALSE(decoder.isPaused());
        EXPECT_EQ(decoder.videoAgent()->pictures().count() < 10, seekmark);
    }
}

// Without a sound clock (a silent clip; framewise always) every request shows the next picture
// and sets the clock to it, however far ahead the clock was.
TEST(DecoderControl, WithoutASoundClockEachRequestShowsTheNextPicture)
{
    const std::pair<const char *, EngineOptions> cases[] = {{"h264_noaudio.mp4", fast(EngineOptions::seekmark())},
                                                            {"h264_aac.mp4", fast(EngineOptions::framewise())}};
    for (const auto &[clip, options] : cases) {
        SCOPED_TRACE(clip);
        DecoderAgent decoder(nullptr, options);
        ASSERT_TRUE(decoder.open(testsupport::clipPath(clip)));
        decoder.start();
        ASSERT_TRUE(waitFor([&] { return decoder.videoAgent()->pictures().count() >= 20; }));
        decoder.m_Clock = 100.0;
        for (int i = 0; i < 20; ++i) {
            PixelPacket *picture = decoder.nextPicture();
            ASSERT_NE(picture, nullptr);
            EXPECT_EQ(testsupport::readFrameNumber(picture->m_Buffer, 320, 240), i);
            EXPECT_DOUBLE_EQ(decoder.m_Clock.load(), picture->m_Time);
        }
        EXPECT_EQ(decoder.position(), 1);   // 0.76 s rounds up
    }
}

TEST(DecoderControl, ADecoderDestroyedFromTheDropLoopsEventsGoesSafely)
{
    auto *decoder = new DecoderAgent(nullptr, fast(EngineOptions::seekmark()));
    QPointer<DecoderAgent> watch(decoder);
    ASSERT_TRUE(decoder->open(testsupport::clipPath("h264_aac.mp4")));
    decoder->start();
    ASSERT_TRUE(waitFor([&] { return decoder->videoAgent()->pictures().count() >= 10; }));
    decoder->pause();
    decoder->m_Clock = 100.0;   // every queued picture is late: the drop loop runs
    QMetaObject::invokeMethod(QCoreApplication::instance(), [decoder] { delete decoder; }, Qt::QueuedConnection);
    EXPECT_EQ(decoder->nextPicture(), nullptr);
    EXPECT_TRUE(watch.isNull());
}

TEST(DecoderControl, TheWorkerSkipsItsRestOnlyWhileAQueueIsBelowTheMark)
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
    EXPECT_TRUE(waitFor([&] { return decoder.soundGaps() > before; }, 20000));
    source.delayMs.store(0);
    decoder.stop();
}

} // namespace
