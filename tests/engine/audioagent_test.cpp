// Sound through a real SDL device: the disk driver records what the callback produced.
#include "enginetestsupport.h"

#include "engine/audioagent.h"
#include "engine/videoagent.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace enginetest;

namespace {

// Sets SDL's audio driver (and the disk driver's file) for the lifetime of the object.
struct AudioDriver {
    explicit AudioDriver(const QByteArray &driver, const QByteArray &file = {}) : m_Old(qgetenv("SDL_AUDIODRIVER"))
    {
        qputenv("SDL_AUDIODRIVER", driver);
        qputenv("SDL_DISKAUDIOFILE", file);
        qputenv("SDL_DISKAUDIODELAY", "0");
    }
    ~AudioDriver() { qputenv("SDL_AUDIODRIVER", m_Old); }
    const QByteArray m_Old;
};

// h264_aac.mp4 at volume 50 until the clock passes 1.5 s, then paused while the device writes
// 400 kB more. The disk driver runs faster than the decoder, so sound alternates with silent
// buffers: level and pitch are taken over the sounding frames only.
TEST(AudioOutput, PlaysTheToneAtTheVolumeHoldsTheClockAndWritesSilenceWhilePaused)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sound.raw");
    double clock = -1.0;
    qint64 sizeAtPause = 0;
    {
        AudioDriver driver("disk", path.toLocal8Bit());
        DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
        ASSERT_TRUE(decoder.open(clipPath("h264_aac.mp4")));
        decoder.setVolume(50);
        decoder.start();
        // Pictures are thrown away as they come, so the reading never waits for the display.
        ASSERT_TRUE(waitFor([&] { return decoder.videoAgent()->flush(), decoder.m_Clock.load() >= 1.5; }));
        decoder.pause();
        clock = decoder.m_Clock.load();
        sizeAtPause = QFileInfo(path).size();
        ASSERT_TRUE(waitFor([&] { return QFileInfo(path).size() > sizeAtPause + 400000; }));
        EXPECT_EQ(decoder.m_Clock.load(), clock);
    }
    QFile recording(path);
    ASSERT_TRUE(recording.open(QIODevice::ReadOnly));
    const QByteArray data = recording.readAll();
    const auto *s = reinterpret_cast<const int16_t *>(data.constData());
    const qint64 count = data.size() / 2;
    // Silence past what may have been buffered at the pause.
    EXPECT_EQ(std::count_if(s + std::min(count, (sizeAtPause + 65536) / 2), s + count, [](int16_t v) { return v; }), 0);
    // Left channel of the frames that sound (both channels zero: a silent buffer).
    double sumSquares = 0.0;
    qint64 sounding = 0, crossings = 0;
    auto silent = [&](qint64 i) { return s[2 * i] == 0 && s[2 * i + 1] == 0; };
    for (qint64 i = 0; i < count / 2; ++i) {
        if (!silent(i)) {
            ++sounding;
            sumSquares += static_cast<double>(s[2 * i]) * s[2 * i];
            crossings += i > 0 && !silent(i - 1) && (s[2 * i - 2] < 0) != (s[2 * i] < 0);
        }
    }
    const double seconds = sounding / 48000.0;
    EXPECT_NEAR(crossings / 2.0 / seconds, 440.0, 25.0);
    // 440 Hz at 1/8 of full scale: RMS about 2896 at full volume, mixed at 64 of 128.
    EXPECT_NEAR(std::sqrt(sumSquares / std::max<qint64>(sounding, 1)), 1448.0, 250.0);
    // The clock holds the time of the block being played: what was played, within a block.
    EXPECT_NEAR(seconds, clock, 0.06);
}

TEST(AudioOutput, WithoutAUsableDeviceItWarnsAndPlaysToTheDummyDriver)
{
    AudioDriver driver("no_such_driver");
    MessageLog log;
    DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
    ASSERT_TRUE(decoder.open(clipPath("h264_aac.mp4")));
    EXPECT_EQ(log.lines().filter("./audioagent").size(), 1) << log.lines().join('\n').toStdString();
    EXPECT_TRUE(decoder.audioAgent()->isDeviceOpen());
    decoder.start();
    EXPECT_TRUE(waitFor([&] { return decoder.m_Clock.load() > 0.2; }));   // the dummy driver calls back
}

TEST(AudioOutput, ADeclaredRateNoDevicePlaysIsHeldToTheNearestPlayableOne)
{
    // A damaged file may declare 2 Hz (the fuzz target found one): one device buffer would last
    // over eight minutes, and closing the device waits for the buffer in flight.
    AudioDriver driver("dummy");
    const int cases[][2] = {{2, AudioAgent::minSampleRate},      {0, AudioAgent::minSampleRate},
                            {-44100, AudioAgent::minSampleRate}, {8000, 8000},
                            {48000, 48000},                      {100000000, AudioAgent::maxSampleRate}};
    for (const auto &c : cases) {
        PlaybackClock clock;
        AudioAgent agent([] { return static_cast<AudioPacket *>(nullptr); }, &clock, c[0], 2, 1.0 / 48000, false);
        EXPECT_TRUE(agent.sampleRate() == c[1] && agent.isDeviceOpen()) << c[0];
        agent.resume();   // running, so closing has a buffer in flight to wait for
    }
}

} // namespace
