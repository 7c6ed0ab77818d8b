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

// Sets SDL's audio driver (and more variables) for the lifetime of the object.
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

struct Recording {
    double clock = -1.0, clockLater = -1.0;   // at the pause; after the paused device wrote 400 kB more
    qint64 loudAfterPause = -1;               // samples past what may have been buffered at the pause
    double rms = 0.0, frequency = 0.0, soundingSeconds = 0.0;   // left channel, sounding stretches
};

// Plays h264_aac.mp4 at the volume until the clock passes 1.5 s, pauses, and analyses the
// recording. The disk driver runs faster than the decoder, so sound alternates with silent
// buffers: level and pitch are taken over the sounding frames only.
Recording playToDisk(const QString &path, int volume)
{
    Recording r;
    qint64 sizeAtPause = 0;
    {
        AudioDriver driver("disk", path.toLocal8Bit());
        DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
        if (!decoder.open(clipPath("h264_aac.mp4")))
            return r;
        decoder.setVolume(volume);
        decoder.start();
        // Pictures are thrown away as they come, so the reading never waits for the display.
        waitFor([&] { return decoder.videoAgent()->flush(), decoder.m_Clock.load() >= 1.5; });
        decoder.pause();
        r.clock = decoder.m_Clock.load();
        sizeAtPause = QFileInfo(path).size();
        waitFor([&] { return QFileInfo(path).size() > sizeAtPause + 400000; });
        r.clockLater = decoder.m_Clock.load();
    }
    QFile recording(path);
    recording.open(QIODevice::ReadOnly);
    const QByteArray data = recording.readAll();
    const auto *s = reinterpret_cast<const int16_t *>(data.constData());
    const qint64 count = data.size() / 2;
    r.loudAfterPause = std::count_if(s + std::min(count, (sizeAtPause + 65536) / 2), s + count, [](int16_t v) { return v; });
    // Left channel of the frames that sound (both channels zero: a silent buffer).
    double sumSquares = 0.0;
    qint64 sounding = 0, crossings = 0;
    auto silent = [&](qint64 i) { return s[2 * i] == 0 && s[2 * i + 1] == 0; };
    for (qint64 i = 0; i < count / 2; ++i) {
        if (silent(i))
            continue;
        ++sounding;
        sumSquares += static_cast<double>(s[2 * i]) * s[2 * i];
        crossings += i > 0 && !silent(i - 1) && (s[2 * i - 2] < 0) != (s[2 * i] < 0);
    }
    r.soundingSeconds = static_cast<double>(sounding) / 48000;
    r.rms = sounding ? std::sqrt(sumSquares / sounding) : 0.0;
    r.frequency = sounding ? crossings / 2.0 / r.soundingSeconds : 0.0;
    return r;
}

TEST(AudioOutput, PlaysTheToneAtTheVolumeHoldsTheClockAndWritesSilenceWhilePaused)
{
    QTemporaryDir dir;
    const Recording full = playToDisk(dir.filePath("full.raw"), 100);
    const Recording quarter = playToDisk(dir.filePath("quarter.raw"), 25);
    for (const Recording *r : {&full, &quarter}) {
        SCOPED_TRACE(r == &full ? "volume 100" : "volume 25");
        ASSERT_GE(r->clock, 1.5);
        EXPECT_EQ(r->clockLater, r->clock);
        EXPECT_EQ(r->loudAfterPause, 0);
        EXPECT_NEAR(r->frequency, 440.0, 25.0);
    }
    // 440 Hz at 1/8 of full scale: RMS about 2896 at full volume; mix volumes 128 and 32.
    EXPECT_NEAR(full.rms, 2896.0, 500.0);
    EXPECT_NEAR(full.rms / quarter.rms, 4.0, 0.4);
    // The clock holds the time of the block being played: what was played, within a block.
    EXPECT_NEAR(full.soundingSeconds, full.clock, 0.06);
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
