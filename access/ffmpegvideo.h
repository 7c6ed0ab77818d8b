#pragma once

#include "video.h"

#include "engine/engineoptions.h"
#include "engine/pendingseek.h"

#include <QString>

class DecoderAgent;

// The player's clip played by the engine: creates, owns and drives one DecoderAgent that reads
// every byte of the clip through this video's source (the engine's byte path calls read() and
// sourceSize() inherited from Video), and answers the player's questions by asking that decoder.
// Until open() has succeeded every query answers its neutral value (0 or null, 1 for frameRate()),
// so a player can hold a video that failed to open and carry on; errorString() tells why it failed.
//
// The decoder's videoEnd() and seekDone() are emitted on its worker thread; they are relayed as
// this video's own signals through queued connections, so listeners receive them on the GUI
// thread, where this object lives.
//
// Threads: everything here runs on the GUI thread, except read()/sourceSize(), which the decoder
// calls on the thread that drives libavformat (see Video). m_Agent, m_Opened and m_Error are the
// GUI thread's alone; the decoder guards its own state.
class FFMpegVideo : public Video {
    Q_OBJECT
public:
    // options: how the decoder runs; the player keeps the default, benchmarks and tests may take
    // the sleeps out of the worker loop.
    FFMpegVideo(VideoEngine *engine, const QString &url, QObject *parent = nullptr,
                const EngineOptions &options = EngineOptions::seekmark());
    ~FFMpegVideo() override;

    // Creates the decoder and opens the clip through the source. Opening probes the file on the
    // calling thread. A second call closes what the first opened and opens again.
    bool open() override;
    int width() override;
    int height() override;
    PixelPacket *nextPicture() override;
    // Tell the driver, then start (or resume) the decoder and the sound.
    void play() override;
    void pause() override;
    // 0 to 100; ignored without sound.
    void setVolume(int volume) override;
    int volume() override;
    // While the decoder is stopped (before the first play(), after the end) each call moves the
    // clock on by 40 ms, up to the duration.
    qint64 positionMs() override;
    qint64 position() override;
    void seek(int seconds) override;
    // See DecoderAgent::seekTo(); nothing unless opened.
    void seekTo(double seconds, SeekMode mode = SeekMode::Keyframe);
    qint64 durationMs() override;
    // Whole seconds, truncated.
    qint64 duration() override;
    float aspectRatio() override;
    double frameRate() override;

    // Low 32 bits of the file offset of the first packet; 0 unless opened.
    int dataOffset();

    // Why the clip could not be opened, for the player's title and log; empty once open() succeeded.
    QString errorString() const { return m_Error; }

    // The decoder, null until open(); for tools and tests that look beneath the player's questions.
    DecoderAgent *agent() const { return m_Agent; }

private:
    // The gate of every query: the decoder exists and opened the clip.
    bool ready() const { return m_Opened && m_Agent; }

    const EngineOptions m_Options;
    DecoderAgent *m_Agent = nullptr;   // owned; null until open()
    QString m_Error;                   // why the clip is not open; empty once it is
};
