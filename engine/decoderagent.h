#pragma once

#include "audiostage.h"
#include "dataqueue.h"
#include "demuxer.h"
#include "engineoptions.h"
#include "ffmpegptr.h"
#include "jobthread.h"
#include "pendingseek.h"
#include "playbackclock.h"
#include "soundgate.h"
#include "videostage.h"

#include <QMutex>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

class AudioAgent;
class AudioPacket;
class ByteSource;
class PixelPacket;
class VideoAgent;

// The engine's worker: owns one media input (m_Demuxer), the decoders of its first video and first
// audio stream (m_Video, m_Audio), the audio queue, the audio output and the picture scheduler.
// Each step() on the worker thread takes one demultiplexed packet and hands it to its stage, which
// decodes it and queues the result (sound as interleaved 16-bit blocks, pictures as planar 8-bit
// 4:2:0 of the opened size); the audio output plays the sound, the scheduler hands pictures to the
// display, and both feed the one playback clock (m_Clock), which decides who drives it (see
// PlaybackClock). The sound waits for the pictures after an open, a seek or a restart (SoundGate).
// How seeks land is the Demuxer's; the picture and sound times are the stages'.
//
// Reading: the worker stops for a queue at its mark only while the other queue has enough queued;
// when the stream the clock needs has (almost) nothing queued it reads on, up to the hard limits
// (VideoAgent::queueLimit() pictures, audioQueueLimit blocks), so sound muxed far from its
// pictures is still reached. See readingWaits().
//
// Threads and locks:
// - GUI (controlling) thread: construction, open, start/pause/stop, seekTo (which only posts the
//   request), the queries, close and destruction; nextPicture() through the scheduler.
// - Worker thread: step(), which emits videoEnd() and seekDone().
// - SDL's audio thread: nextAudioPacket() and the sound's calls of m_Clock.
// m_Mutex (non-recursive) is held by step() for its whole run (seeks are carried out inside it)
// and guards the demuxer, the stages' decoding state and the packet. Lock order: SDL's device
// lock (held while the audio output is stopped), then m_Mutex, then m_PendingSeek's or a queue's
// own lock; no queue operation takes m_Mutex, and posting a seek takes no other lock.
// Seeks: the GUI thread posts the request to m_PendingSeek (its own lock) and marks everything
// queued so far as left behind (the queues' packets carry their seek's serial, and the consumers
// skip older ones); the worker takes the request at the top of a pass, under m_Mutex, and tags
// what it queues from then on with m_Serial, which only it touches.
// m_Clock and m_SoundGate guard themselves; m_Eof, the seek serials, m_LastSeek and
// the values the GUI reads while the worker runs (aspect, B-frame flag) are atomics; the size and
// frame rate are taken once at open, so the GUI never looks into the stream array the worker may
// grow. The demuxer and the stages are set up by open() before the worker starts and released by
// close() after it has ended.
class DecoderAgent : public JobThread {
    Q_OBJECT
public:
    static constexpr int audioBufferSize = 288000;
    // The audio queue's mark, and its hard limit while the pictures have nothing queued: 128
    // blocks of 288000-byte pool buffers, at most about 37 MB.
    static constexpr int audioQueueCapacity = 31;
    static constexpr int audioQueueLimit = 128;
    // A queue holding fewer than this runs short for the reading rule: the other queue then reads
    // on past its mark. Half the mark: a few pictures only (as sound waiting for its time holds
    // its queue at the mark) ran dry whenever the machine was busy.
    static constexpr int starvedBelow = 16;
    // Seeks repeated earlier when the first keyframe after a seek lies past the target.
    static constexpr int maxLandingRetries = Demuxer::maxLandingRetries;
    // Packets dropped before the first keyframe, or held after it, while a landing is checked.
    static constexpr int landingPacketLimit = Demuxer::landingPacketLimit;
    // Pictures queued before the sound starts (see SoundGate).
    static constexpr int soundWaitsForPictures = SoundGate::picturesFirst;
    // The largest pictures taken. The picture queue holds up to 31 copies of the opened size
    // and the decoder several more of its own, so a header that declares a huge size (or a stream
    // that switches to one) would otherwise cost gigabytes before a single picture is shown. 4096
    // x 2304 takes both kinds of 4K; larger inputs are refused at open, and a decoder refuses larger
    // pictures that turn up later in the stream.
    static constexpr int maxPictureSide = VideoStage::maxPictureSide;
    static constexpr int64_t maxPicturePixels = VideoStage::maxPicturePixels;

    // source: where open() reads the bytes from (null for decoders that open a file by path).
    explicit DecoderAgent(ByteSource *source, const EngineOptions &options = EngineOptions::seekmark(),
                          QObject *parent = nullptr);
    ~DecoderAgent() override;

    // Opens the input through the byte source; false when the source is missing or empty (without
    // touching libavformat), or the input cannot be opened, has no video stream or a stream's
    // decoder is missing. A failed open releases whatever it had set up.
    bool open();
    // Opens a file by its path.
    bool open(const QString &path);

    bool start() override;
    void pause() override;
    void stop() override;
    // Asks for a new position, seconds from the first picture (fractions allowed), clamped to the
    // clip; see SeekMode. Returns at once: the worker carries the seek out at the top of its next
    // pass (woken if it rests), and a request it has not started yet is replaced by a newer one.
    // From the call on, no picture or sound of the old position is handed out. The first audio
    // block queued at the new position is acknowledged with seekDone(); a seek libavformat
    // refuses emits seekFailed() instead. A running worker reads on from there, also when it had
    // already read to the end of the input; a stopped one carries it out when started again.
    void seekTo(double seconds, SeekMode mode = SeekMode::Keyframe);
    // seekTo() the keyframe at or before the given second.
    void seek(int seconds) { seekTo(seconds, SeekMode::Keyframe); }
    // The serial of the last seek asked for (0 before any). Every queued picture and sound block
    // carries the serial of the seek whose position it belongs to.
    int seekSerial() const { return m_SeekSerial.load(); }

    // For the audio output (SDL's thread): the oldest block, or null when none or stopped.
    AudioPacket *nextAudioPacket();
    // For the display: see VideoAgent::nextPicture(). The call may process GUI events; an event
    // handler may even destroy this decoder, in which case null is returned.
    PixelPacket *nextPicture();

    void setVolume(int volume);
    int volume() const;
    // What the display makes of each picture (see PictureTarget): pictures queued from now on,
    // and those of every later open, are cut and scaled to it. GUI thread.
    void setPictureTarget(const PictureTarget &target);

    // The worker reads no further while this many pictures are queued (0: the queue's own rule
    // alone). framewise's steps take pictures one at a time and seek back often: what the worker
    // decoded ahead of them would mostly be thrown away, at the cost of the steps' own decoding.
    void setReadAhead(int pictures) { m_ReadAhead.store(pictures); }

    // The clock in milliseconds; while the worker is stopped each call moves it on by 40 ms, up to
    // the duration.
    qint64 positionMs();
    // The clock in whole seconds, rounded half up.
    qint64 position() const;
    qint64 durationMs() const;
    qint64 duration() const;
    // Byte offset of the input's first packet.
    qint64 dataOffset() const;
    // Display aspect ratio; 0 when the pixels are square.
    float aspectRatio() const { return m_Video ? m_Video->aspect() : 0.0f; }
    int videoWidth() const { return m_Video ? m_Video->width() : 0; }
    int videoHeight() const { return m_Video ? m_Video->height() : 0; }
    double frameRate() const { return m_Video ? m_Video->frameRate() : 0.0; }
    // The first picture's time after the input's start (its stamp), in seconds: seek targets
    // count from it.
    double leadSeconds() const { return m_Video ? m_Video->leadUs() / 1e6 : 0.0; }
    // The video decoder reorders pictures (B-frames).
    bool hasBFrames() const { return m_Video && m_Video->hasBFrames(); }
    // The threads of the video decoder as libavcodec chose them when it opened (0: not open).
    int decoderThreads() const { return m_Video && m_Video->codec() ? m_Video->codec()->thread_count : 0; }

    // Releases everything; the decoder can be opened again. Also run by the destructor.
    void close();
    // Why the last open() failed, in words for a window title or a log line; empty after success.
    QString openError() const { return m_OpenError; }

    // For the audio output, the players and tests.
    const EngineOptions &options() const { return m_Options; }
    VideoAgent *videoAgent() const { return m_VideoAgent; }
    AudioAgent *audioAgent() const { return m_AudioAgent.get(); }
    DataQueue &audioQueue() { return m_AudioQueue; }
    bool isOpen() const { return m_Demuxer.isOpen(); }
    // Sound is decoded and played (an audio stream with a decoder and a device, in a form that
    // plays sound).
    bool hasAudio() const { return m_AudioAgent != nullptr; }
    bool isEof() const { return m_Eof.load(); }
    // The last seek asked for has not been acknowledged with seekDone() yet (nor has it failed).
    bool isSeekPending() const { return m_AwaitedSerial.load() != 0; }
    // The last seek asked for could not be made (libavformat refused it): reading went on from
    // where it stood, and no seekDone() follows. False while it waits to be carried out.
    bool lastSeekFailed() const
    {
        const int failed = m_FailedSerial.load();
        return failed != 0 && failed == seekSerial();
    }
    int audioStreamIndex() const { return m_Demuxer.audioStream(); }
    int videoStreamIndex() const { return m_Demuxer.videoStream(); }
    // The input's start time in microseconds (0 when unknown), subtracted from every time stamp.
    int64_t startTimeUs() const { return m_Demuxer.startTimeUs(); }
    // Target of the last seek in whole seconds.
    qint64 lastSeek() const { return m_LastSeek.load(); }
    // How often the audio output asked for sound while playing and found none queued (a gap in
    // the sound): not counted while the sound waits for the first picture or after the input's end.
    int soundGaps() const { return m_SoundGaps.load(); }

    // The playback clock (seconds): fed by the audio output and the scheduler, paused with the
    // worker, restarted by seeks; positionMs() moves it while stopped.
    PlaybackClock m_Clock;

signals:
    void videoEnd();
    void seekDone();
    // The seek just carried out could not be made (see lastSeekFailed()).
    void seekFailed();

protected:
    bool step() override;
    // False while the engine is catching up (see EngineOptions::catchUpBelow).
    bool restAfterWork() override;

public:
    // The catch-up rule: true (no sleep after work) while the picture queue, or the audio queue
    // when sound is queued, holds fewer than catchUpBelow packets; never when catchUpBelow <= 0.
    static bool catchingUp(int catchUpBelow, int pictures, bool soundQueued, int audioBlocks);
    // The reading rule: true when the worker waits (reads nothing). pictureMark: the pictures'
    // mark (VideoAgent::mark()); pictureLimit: the picture queue's hard limit; soundQueued: sound
    // is decoded into the audio queue.
    static bool readingWaits(int pictures, int pictureMark, int pictureLimit, bool soundQueued, int audioBlocks);

private:
    // Records the first reason an open failed and returns false.
    bool fail(const QString &reason);
    bool openRest(const QString &declaredTooLarge);
    bool openStreams();
    // Worker: carries out the request (under m_Mutex).
    void carryOut(const SeekRequest &request);
    // The demuxer searched the input: the stages forget the old position.
    void repositioned();
    void blockQueued();
    bool endOfInput();
    // The input read to its end (or read afresh): also tells the scheduler.
    void setEof(bool eof);
    bool readFailed();
    bool videoQueueFull();

    ByteSource *m_Source;   // not owned
    QString m_OpenError;    // GUI thread; set by open()
    PictureTarget m_PictureTarget;   // GUI thread; handed to the video stage
    const EngineOptions m_Options;

    Demuxer m_Demuxer;
    std::unique_ptr<VideoStage> m_Video;
    std::unique_ptr<AudioStage> m_Audio;   // only while sound is played (see hasAudio())
    DataQueue m_AudioQueue;
    std::unique_ptr<AudioAgent> m_AudioAgent;
    VideoAgent *m_VideoAgent = nullptr;     // owned; released with dispose()

    std::atomic<bool> m_Eof{false};
    SoundGate m_SoundGate;
    std::atomic<int> m_SoundGaps{0};
    PendingSeek m_PendingSeek;
    std::atomic<int> m_SeekSerial{0};      // of the last seek asked for; written by the GUI thread
    int m_Serial = 0;                      // worker: the serial of the position being read
    std::atomic<int> m_AwaitedSerial{0};   // the seek whose first sound acknowledges it; 0 none
    std::atomic<int> m_FailedSerial{0};    // the last seek that could not be made
    QMutex m_Mutex;

    PacketPtr m_Packet;
    std::atomic<qint64> m_LastSeek{0};
    std::atomic<int> m_ReadAhead{0};
};
