#pragma once

#include "dataqueue.h"
#include "engineoptions.h"
#include "ffmpegptr.h"
#include "jobthread.h"
#include "playbackclock.h"

#include <QMutex>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class AudioAgent;
class AudioPacket;
class ByteSource;
class FfdiskIo;
class PixelPacket;
class VideoAgent;

// The engine's worker: owns one media input, the decoders of its first video and first audio
// stream, the converter to planar 4:2:0 (for pictures not decoded as such), the audio queue, the
// audio output and the picture scheduler. Each step() on the worker thread reads one demultiplexed
// packet, decodes it and queues the result (sound as interleaved 16-bit blocks, pictures as
// planar 8-bit 4:2:0 of the opened size); the audio output plays the sound, the scheduler hands
// pictures to the display, and both feed the one playback clock (m_Clock), which decides who
// drives it (see PlaybackClock).
//
// Reading: the worker stops for a queue at its mark only while the other queue has enough queued;
// when the stream the clock needs has (almost) nothing queued it reads on, up to the hard limits
// (VideoAgent::queueLimit() pictures, audioQueueLimit blocks), so sound muxed far from its
// pictures is still reached. See readingWaits().
//
// Seeks land on the last keyframe at or before the target: a picture stamped less than half a
// picture interval after the target counts as at it; for inputs searched by decoding time the
// target is moved back by the decoding delay, as the ffmpeg tool does; the first keyframe read
// after the seek is checked, and the seek repeated earlier (at most maxLandingRetries times) when
// it lies past the target; and, since a coarse search may also end a keyframe or more early, the
// packets from that keyframe on are held until the video's decoding time passes the target, and
// decoding starts at the last keyframe at or before it.
//
// Picture times and the audio clock count from the input's start time, and seek targets are
// offset by it, so positions, the duration and seeks agree also for inputs that do not start at 0.
//
// Threads and locks:
// - GUI (controlling) thread: construction, open, start/pause/stop, seek, the queries, close and
//   destruction; nextPicture() through the scheduler.
// - Worker thread: step(), which emits videoEnd() and seekDone().
// - SDL's audio thread: nextAudioPacket() and the sound's calls of m_Clock.
// m_Mutex (non-recursive) is held by step() and seek() for their whole run and guards the FFmpeg
// objects, the pending packet and the drain state. Lock order: SDL's device lock (held while the
// audio output is stopped), then m_Mutex, then a queue's own lock; no queue operation takes
// m_Mutex. m_Clock guards itself; m_Eof, m_SeekPending, m_SeekFailed, m_LastSeek and the values
// the GUI reads while the worker runs (aspect, B-frame flag) are atomics; the frame rate is taken
// once at open, so the GUI never looks into the stream array the worker may grow. The FFmpeg objects are
// created by open() before the worker starts and released by close() after it has ended.
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
    static constexpr int maxLandingRetries = 4;
    // Packets dropped before the first keyframe, or held after it, while a landing is checked.
    static constexpr int landingPacketLimit = 2000;
    // Pictures queued before the sound starts (see m_SoundGate).
    static constexpr int soundWaitsForPictures = 4;
    // The largest pictures taken. The picture queue holds up to 31 copies of the opened size
    // and the decoder several more of its own, so a header that declares a huge size (or a stream
    // that switches to one) would otherwise cost gigabytes before a single picture is shown. 4096
    // x 2304 takes both kinds of 4K; larger inputs are refused at open, and a decoder refuses larger
    // pictures that turn up later in the stream.
    static constexpr int maxPictureSide = 8192;
    static constexpr int64_t maxPicturePixels = 4096 * 2304;

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
    // Repositions to the keyframe at or before the given second; the first audio block queued
    // afterwards is acknowledged with seekDone(). A running worker reads on from there, also when
    // it had already read to the end of the input; a stopped one stays stopped.
    void seek(int seconds);

    // For the audio output (SDL's thread): the oldest block, or null when none or stopped.
    AudioPacket *nextAudioPacket();
    // For the display: see VideoAgent::nextPicture(). The call may process GUI events; an event
    // handler may even destroy this decoder, in which case null is returned.
    PixelPacket *nextPicture();

    void setVolume(int volume);
    int volume() const;

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
    float aspectRatio() const { return m_Aspect.load(); }
    int videoWidth() const { return m_Width; }
    int videoHeight() const { return m_Height; }
    double frameRate() const { return m_FrameRate; }
    // The video decoder reorders pictures (B-frames).
    bool hasBFrames() const { return m_HasBFrames.load(); }

    // Releases everything; the decoder can be opened again. Also run by the destructor.
    void close();
    // Why the last open() failed, in words for a window title or a log line; empty after success.
    QString openError() const { return m_OpenError; }

    // For the audio output, the players and tests.
    const EngineOptions &options() const { return m_Options; }
    VideoAgent *videoAgent() const { return m_VideoAgent; }
    AudioAgent *audioAgent() const { return m_AudioAgent.get(); }
    DataQueue &audioQueue() { return m_AudioQueue; }
    bool isOpen() const { return m_FormatContext != nullptr; }
    // Sound is decoded and played (an audio stream with a decoder and a device, in a form that
    // plays sound).
    bool hasAudio() const { return m_AudioAgent != nullptr; }
    bool isEof() const { return m_Eof.load(); }
    bool isSeekPending() const { return m_SeekPending.load(); }
    // The last seek could not be made (libavformat refused it): reading went on from where it
    // stood, and no seekDone() follows.
    bool lastSeekFailed() const { return m_SeekFailed.load(); }
    int audioStreamIndex() const { return m_AudioStream; }
    int videoStreamIndex() const { return m_VideoStream; }
    // The input's start time in microseconds (0 when unknown), subtracted from every time stamp.
    int64_t startTimeUs() const { return m_StartTime; }
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

protected:
    bool step() override;
    // False while the engine is catching up (see EngineOptions::catchUpBelow).
    bool restAfterWork() override;

public:
    // The catch-up rule: true (no sleep after work) while the picture queue, or the audio queue
    // when sound is queued, holds fewer than catchUpBelow packets; never when catchUpBelow <= 0.
    static bool catchingUp(int catchUpBelow, int pictures, bool soundQueued, int audioBlocks);
    // The reading rule: true when the worker waits (reads nothing). pictureLimit: the picture
    // queue's hard limit; soundQueued: sound is decoded into the audio queue.
    static bool readingWaits(int pictures, int pictureLimit, bool soundQueued, int audioBlocks);

private:
    // Records the first reason an open failed and returns false.
    bool fail(const QString &reason);
    static QString ffmpegError(int code);
    bool openInput(AVFormatContext *context, const char *url);
    bool openStreams();
    bool openCodec(AVStream *stream, CodecContextPtr &codec, bool video);
    void seekLocked(int seconds);
    int seekInput(int64_t timestampUs);
    // While a seek's landing is checked: true when the packet was used up here (dropped before the
    // first keyframe, or a repeated seek made).
    bool checkLanding(AVPacket *packet);
    void releaseLanding();
    // A video packet's presentation (or decoding) time in µs, absolute; AV_NOPTS_VALUE if unknown.
    int64_t videoStampUs(const AVPacket *packet, bool decodingTime) const;
    bool endOfInput();
    bool readFailed();
    bool decodeAudio(AVPacket *packet);
    bool decodeVideo(AVPacket *packet);
    int receivePictures();
    bool drainOnePicture();
    bool convertAndPush(AVFrame *frame);
    void queueAudioFrame(AVFrame *frame);
    bool ensureResampler(const AVFrame *frame);
    void updateAspect();
    bool videoQueueFull();

    ByteSource *m_Source;   // not owned
    QString m_OpenError;    // GUI thread; set by open()
    const EngineOptions m_Options;

    std::unique_ptr<FfdiskIo> m_Io;         // the byte path; outlives m_FormatContext
    FormatContextPtr m_FormatContext;
    int m_VideoStream = -1;
    int m_AudioStream = -1;
    CodecContextPtr m_VideoCodec;
    CodecContextPtr m_AudioCodec;
    SwsContextPtr m_Converter;
    SwrContextPtr m_Resampler;
    DataQueue m_AudioQueue;
    std::unique_ptr<AudioAgent> m_AudioAgent;
    VideoAgent *m_VideoAgent = nullptr;     // owned; released with dispose()

    std::atomic<bool> m_Eof{false};
    std::atomic<bool> m_SeekPending{false};
    // The sound waits for the pictures: after the open, a seek or a restart the audio callback
    // takes no block (plays silence and leaves the clock alone) until soundWaitsForPictures
    // pictures of the new position are queued. Sound decodes in microseconds, a 1080p picture
    // comes out of the frame threads several packets later, and the display takes its first
    // pictures slowly (shaders compiled, the texture allocated: ticks of 25-30 ms instead of 5);
    // a clock started by the sound alone ran 50 to 100 ms ahead of the first pictures, and the
    // scheduler dropped them as late. The gate also opens when the sound queue is full or the
    // input has ended, so a clip whose pictures never come still plays.
    std::atomic<bool> m_SoundGate{true};
    std::atomic<int> m_SoundGaps{0};
    std::atomic<bool> m_SeekFailed{false};
    QMutex m_Mutex;

    FramePtr m_Frame;
    FramePtr m_AudioFrame;
    PacketPtr m_Packet;
    PacketPtr m_PendingPacket;   // read by open() to learn the first packet's offset; step() takes it
    bool m_HasPending = false;
    int m_RgbSize = 0;           // bytes of one queued (planar 4:2:0) picture of the opened size
    std::vector<uint8_t> m_AudioBuffer;   // one converted audio frame

    int m_Width = 0;
    int m_Height = 0;
    int64_t m_StartTime = 0;           // µs
    int64_t m_VideoStartOffset = 0;    // the start time in video stream units
    int64_t m_AudioStartOffset = 0;    // the start time in audio stream units
    int64_t m_NextAudioPts = AV_NOPTS_VALUE;
    int64_t m_LastVideoTs = AV_NOPTS_VALUE;
    int64_t m_DataOffset = 0;
    double m_FrameRate = 0.0;
    int64_t m_VideoLeadUs = 0;         // the first picture's time after the input's start
    // The landing check of the last seek (worker and seek, under m_Mutex).
    bool m_CheckLanding = false;
    int m_LandingRetries = 0;
    int m_LandingDropped = 0;          // packets dropped before the first keyframe
    int64_t m_LandingLimitUs = 0;      // a first keyframe stamped later than this landed late
    int64_t m_SeekTimestampUs = 0;     // what libavformat was last asked for
    std::deque<PacketPtr> m_LandingHeld;   // from the last keyframe at or before the target
    std::deque<PacketPtr> m_Replay;        // released by the check, decoded before reading on
    int m_DeviceChannels = 0;
    int m_DeviceRate = 0;
    int m_ResamplerFormat = -1;
    int m_ResamplerRate = 0;
    AVChannelLayout m_ResamplerLayout{};
    bool m_Draining = false;   // a null packet went to the video decoder; pictures still to collect
    bool m_Drained = false;    // the video decoder has been drained since the last seek
    std::atomic<float> m_Aspect{0.0f};
    std::atomic<bool> m_HasBFrames{false};
    std::atomic<qint64> m_LastSeek{0};
};
