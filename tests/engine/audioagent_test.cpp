// Sound through a real SDL device: the disk driver records what the callback produced, so the
// tests check the tone, its level, the volume, silence while paused and the clock against what
// was played. Without a usable driver the agent falls back to the dummy one and says so.
#include "enginetestsupport.h"

#include "engine/audioagent.h"
#include "engine/decoderagent.h"
#include "engine/videoagent.h"
#include "tests/common/testclips.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtMessageHandler>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using namespace enginetest;

namespace {

constexpr int rate = 48000;

std::vector<int16_t> readSamples(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    std::vector<int16_t> samples(data.size() / 2);
    std::memcpy(samples.data(), data.constData(), samples.size() * 2);
    return samples;
}

// What the recording says about the tone: level and pitch over the sounding stretches (the disk
// driver runs faster than the decoder, so sound alternates with silent buffers), and how much
// sound there was in all.
struct Tone {
    double rms = 0.0;
    double frequency = 0.0;
    double soundingSeconds = 0.0;
};

Tone analyse(const std::vector<int16_t> &samples)
{
    // Left channel of interleaved stereo.
    double sumSquares = 0.0;
    qint64 sounding = 0;
    qint64 crossings = 0;
    qint64 crossingSpan = 0;
    size_t i = 0;
    const size_t frames = samples.size() / 2;
    while (i < frames) {
        if (samples[2 * i] == 0 && samples[2 * i + 1] == 0) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < frames && !(samples[2 * end] == 0 && samples[2 * end + 1] == 0))
            ++end;
        for (size_t k = i; k < end; ++k) {
            sumSquares += static_cast<double>(samples[2 * k]) * samples[2 * k];
            if (k > i && (samples[2 * k - 2] < 0) != (samples[2 * k] < 0))
                ++crossings;
        }
        sounding += static_cast<qint64>(end - i);
        crossingSpan += static_cast<qint64>(end - i - 1);
        i = end;
    }
    Tone tone;
    if (sounding > 0) {
        tone.rms = std::sqrt(sumSquares / sounding);
        tone.frequency = crossings / 2.0 / (static_cast<double>(crossingSpan) / rate);
        tone.soundingSeconds = static_cast<double>(sounding) / rate;
    }
    return tone;
}

// Plays h264_aac.mp4 through the disk driver until the clock passes `seconds`, then stops.
// Returns the clock at the stop.
double playToDisk(const QString &recording, int volume, double seconds)
{
    EnvOverride driver("SDL_AUDIODRIVER", "disk");
    EnvOverride file("SDL_DISKAUDIOFILE", recording.toLocal8Bit());
    EnvOverride delay("SDL_DISKAUDIODELAY", "0");
    DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
    if (!decoder.open(testsupport::clipPath("h264_aac.mp4")))
        return -1.0;
    decoder.setVolume(volume);
    decoder.start();
    // Pictures are thrown away as they come, so the reading never waits for the display.
    waitFor([&] {
        decoder.videoAgent()->flush();
        return decoder.m_Clock.load() >= seconds;
    });
    decoder.pause();
    return decoder.m_Clock.load();
}

TEST(AudioOutput, PlaysTheToneAtTheChosenVolume)
{
    QTemporaryDir dir;
    const QString loud = dir.filePath("loud.raw");
    const QString quiet = dir.filePath("quiet.raw");
    ASSERT_GE(playToDisk(loud, 100, 1.5), 1.5);
    ASSERT_GE(playToDisk(quiet, 25, 1.5), 1.5);

    const Tone full = analyse(readSamples(loud));
    const Tone quarter = analyse(readSamples(quiet));
    // 440 Hz at 1/8 of full scale: RMS about 2896 at full volume.
    EXPECT_NEAR(full.frequency, 440.0, 25.0);
    EXPECT_NEAR(full.rms, 2896.0, 500.0);
    EXPECT_NEAR(quarter.frequency, 440.0, 25.0);
    EXPECT_NEAR(full.rms / quarter.rms, 4.0, 0.4);   // mix volumes 128 and 32
}

TEST(AudioOutput, TheClockFollowsTheSoundAndPauseWritesSilence)
{
    QTemporaryDir dir;
    const QString recording = dir.filePath("paused.raw");
    EnvOverride driver("SDL_AUDIODRIVER", "disk");
    EnvOverride file("SDL_DISKAUDIOFILE", recording.toLocal8Bit());
    EnvOverride delay("SDL_DISKAUDIODELAY", "0");
    qint64 sizeAtPause = 0;
    double clock = 0.0;
    {
        DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
        ASSERT_TRUE(decoder.open(testsupport::clipPath("h264_aac.mp4")));
        decoder.start();
        ASSERT_TRUE(waitFor([&] {
            decoder.videoAgent()->flush();
            return decoder.m_Clock.load() >= 1.0;
        }));
        decoder.pause();
        clock = decoder.m_Clock.load();
        sizeAtPause = QFileInfo(recording).size();
        // The paused device goes on writing: wait for a good stretch of it.
        ASSERT_TRUE(waitFor([&] { return QFileInfo(recording).size() > sizeAtPause + 400000; }));
        EXPECT_EQ(decoder.m_Clock.load(), clock);
    }
    const std::vector<int16_t> samples = readSamples(recording);
    // Past what may still have been buffered at the pause, everything is silence.
    const size_t from = static_cast<size_t>(sizeAtPause + 65536) / 2;
    ASSERT_LT(from, samples.size());
    size_t loud = 0;
    for (size_t i = from; i < samples.size(); ++i)
        loud += samples[i] != 0;
    EXPECT_EQ(loud, 0u);

    // The clock holds the time of the block being played: what was played, within a block.
    const Tone tone = analyse(samples);
    EXPECT_NEAR(tone.soundingSeconds, clock, 0.06);
}

// Collects the warnings that reach Qt's message output.
QStringList *g_Warnings = nullptr;
void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (g_Warnings && type >= QtWarningMsg)
        g_Warnings->append(message);
}

TEST(AudioOutput, WithoutAUsableDeviceItWarnsAndPlaysToTheDummyDriver)
{
    EnvOverride driver("SDL_AUDIODRIVER", "no_such_driver");
    QStringList warnings;
    g_Warnings = &warnings;
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    const EngineOptions forms[] = {fast(EngineOptions::seekmark()), fast(EngineOptions::framewise())};
    for (const EngineOptions &options : forms) {
        warnings.clear();
        DecoderAgent decoder(nullptr, options);
        ASSERT_TRUE(decoder.open(testsupport::clipPath("h264_aac.mp4")));
        ASSERT_TRUE(decoder.audioAgent()->isDeviceOpen());
        EXPECT_EQ(warnings.filter("audio device failed").size(), 1) << warnings.join('\n').toStdString();
        if (options.logChannels) {
            EXPECT_EQ(warnings.filter("./audioagent").size(), 1);
            // The clock runs: the dummy driver calls back.
            decoder.start();
            EXPECT_TRUE(waitFor([&] { return decoder.m_Clock.load() > 0.2; }));
        }
    }
    qInstallMessageHandler(previous);
    g_Warnings = nullptr;
}

TEST(AudioOutput, ADeclaredRateNoDevicePlaysIsHeldToTheNearestPlayableOne)
{
    // A damaged file may declare 2 Hz. One device buffer would then last over eight minutes, and
    // closing the device waits for the buffer in flight: without the limit this test runs into its
    // timeout. (The fuzz target found such a file.)
    EnvOverride driver("SDL_AUDIODRIVER", "dummy");
    struct Case {
        int declared;
        int device;
    };
    const Case cases[] = {
        {2, AudioAgent::minSampleRate},       {0, AudioAgent::minSampleRate},
        {-44100, AudioAgent::minSampleRate},  {8000, 8000},
        {48000, 48000},                       {AudioAgent::maxSampleRate, AudioAgent::maxSampleRate},
        {100000000, AudioAgent::maxSampleRate},
    };
    for (const Case &c : cases) {
        std::atomic<double> clock{0.0};
        AudioAgent agent([] { return static_cast<AudioPacket *>(nullptr); }, &clock, c.declared, 2, 1.0 / 48000,
                         false);
        EXPECT_EQ(agent.sampleRate(), c.device) << c.declared;
        EXPECT_TRUE(agent.isDeviceOpen()) << c.declared;
        agent.resume();   // running, so closing has a buffer in flight to wait for
    }
}

} // namespace
