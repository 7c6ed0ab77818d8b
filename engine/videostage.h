#pragma once

#include "engineoptions.h"
#include "streamdecoder.h"

#include <QString>

#include <atomic>
#include <cstdint>

class PixelPacket;
class PlaybackClock;
class QObject;
class SoundGate;
class VideoAgent;

// The video half of the decoder: the first video stream's decoder, the picture times, and the
// conversion of every decoded picture into a planar 8-bit 4:2:0 picture of the opened size on
// the picture queue (copied as it is where the decoder made one already, scaled otherwise). At
// the end of the input it drains the pictures the decoder kept back for reordering.
//
// Each picture carries its own time (with frame threads and reordering the packet just sent is
// not the picture that came out), counted from the input's start; see TimestampFallback for
// pictures without one.
//
// Threads: opened on the GUI thread before the worker starts, released after it has ended;
// decode(), the draining and flush() run on the worker or in a seek, under the decoder's lock.
// The aspect and the B-frame flag are atomics (the GUI reads them while the worker runs); the
// size and the frame rate are fixed at open. The picture queue, the clock and the gate guard
// themselves; lock order as the decoder's (its lock, then a queue's).
class VideoStage : public StreamDecoder {
public:
    // The largest pictures taken (see DecoderAgent::maxPictureSide).
    static constexpr int maxPictureSide = 8192;
    static constexpr int64_t maxPicturePixels = 4096 * 2304;
    static bool tooLarge(int width, int height);
    static QString tooLargeReason(int width, int height);

    // owner: named in the pictures' debug lines (the decoder).
    VideoStage(const EngineOptions &options, PlaybackClock *clock, SoundGate *gate, const QObject *owner);

    // Opens the decoder of stream; startTimeUs: the input's start, subtracted from every stamp.
    bool open(AVStream *stream, int64_t startTimeUs, QString &error);
    // Where the pictures go (the decoder's scheduler, created once the size is known).
    void setAgent(VideoAgent *agent) { m_Agent = agent; }

    // One packet; true when the decoder took it (picture or not).
    bool decode(AVPacket *packet);
    // The input ended: the decoder is asked once (per position) for the pictures it holds back.
    void startDraining();
    bool isDraining() const { return m_Draining; }
    // One held-back picture queued; false (and the draining over) when none is left.
    bool drainOne();
    // A new position: the decoder forgets the old one.
    void flush();
    // The pictures from now on belong to the seek with this serial. exactFrom (seconds, counted
    // as the pictures' times): pictures more than half an interval before it are decoded but not
    // queued, except the last one of the input when none reaches it; -infinity queues them all.
    void startPosition(int serial, double exactFrom);
    // After a seek's search: the first picture decoded is checked against the landing's limit
    // (seconds, as the pictures' times). One stamped later is held back and landedLate() says so:
    // the demuxer then searches again earlier (the decoder is flushed), or acceptLanding() queues
    // it after all.
    void expectLanding(double limitSeconds);
    bool landedLate() const { return m_LandedLate; }
    void acceptLanding();

    int width() const { return m_Width; }
    int height() const { return m_Height; }
    double frameRate() const { return m_FrameRate; }
    // The first picture's time after the input's start (see open()).
    int64_t leadUs() const { return m_LeadUs; }
    // The decoder reorders pictures (B-frames) or the stream says it delays them.
    bool reorders() const;
    float aspect() const { return m_Aspect.load(); }
    bool hasBFrames() const { return m_HasBFrames.load(); }

private:
    int receivePictures();
    // Times the decoded picture and queues it, or holds it back for an exact seek; true when it
    // was either.
    bool takeFrame(AVFrame *frame);
    void decodeAlone(AVPacket *packet);
    bool place(AVFrame *frame, double time);
    bool convertAndPush(AVFrame *frame, double time);
    void updateAspect();

    const EngineOptions m_Options;
    PlaybackClock *m_Clock;   // not owned; the decoder's
    SoundGate *m_Gate;        // not owned; the decoder's
    const QObject *m_Owner;   // not owned
    VideoAgent *m_Agent = nullptr;   // not owned
    SwsContextPtr m_Converter;
    int m_Width = 0;
    int m_Height = 0;
    double m_FrameRate = 0.0;
    int64_t m_StartOffset = 0;   // the input's start in stream units
    int64_t m_LeadUs = 0;
    int64_t m_LastTs = AV_NOPTS_VALUE;
    bool m_Draining = false;   // a null packet went to the decoder; pictures still to collect
    bool m_Drained = false;    // the decoder has been drained since the last flush
    int m_Serial = 0;          // of the seek the pictures belong to
    double m_ExactFrom;        // an exact seek's target; -infinity once reached or for other seeks
    FramePtr m_Held;           // an exact seek's latest picture before its target
    double m_HeldTime = 0.0;
    bool m_CheckingLanding = false;   // the first picture after a seek's search is still to come
    double m_LandingLimit = 0.0;
    bool m_LandedLate = false;        // it came, stamped past the limit
    FramePtr m_Late;                  // that picture
    double m_LateTime = 0.0;
    bool m_AloneNext = false;         // the landing's keyframe is to be decoded on its own first
    bool m_DropRepeat = false;        // the decoder's second copy of it is still to come
    double m_AloneTime = 0.0;         // its time
    double m_LastTime = 0.0;          // of the picture timed last
    std::atomic<float> m_Aspect{0.0f};
    std::atomic<bool> m_HasBFrames{false};
};
