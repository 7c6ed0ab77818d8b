#pragma once

#include "ffmpegptr.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

class ByteSource;
class FfdiskIo;

// The decoder's input: opens and probes it (through the byte source or by path), hands out its
// packets one at a time, and seeks. Seeks land on the last keyframe at or before the target: a
// picture stamped less than half a picture interval after the target counts as at it; for inputs
// searched by decoding time the target is moved back by the decoding delay, as the ffmpeg tool
// does; the first keyframe read after the seek is checked, and the seek repeated earlier (at most
// maxLandingRetries times) when it lies past the target; and, since a coarse search may also end a
// keyframe or more early, the packets from that keyframe on are held until the video's decoding
// time passes the target, and decoding starts at the last keyframe at or before it.
//
// Times count from the input's start (startTimeUs()), and seek targets are offset by it, so
// positions, the duration and seeks agree also for inputs that do not start at 0: late (MPEG-TS)
// or early (wrapped stamps unwrapped below 0), but not the sound's priming (see InputStart).
//
// Threads: open() and close() on the GUI thread while the worker is stopped; read() on the worker
// and seek() on the GUI thread, both under the decoder's lock, which guards everything here. The
// queries read values fixed at open (the duration, the start, the first packet's offset).
class Demuxer {
public:
    static constexpr int maxLandingRetries = 4;
    // Packets dropped before the first keyframe of a landing (none of them is held).
    static constexpr int landingPacketLimit = 2000;
    // The packets held from a landing's keyframe on: at most this many bytes (a 10-second keyframe
    // interval of 50 Mb/s video), counted in bytes because packets of high-rate video are large.
    static constexpr int64_t landingHoldBytes = int64_t(64) << 20;
    // Whether libavformat searches the format's index by decoding time (the search then ends a
    // keyframe late for streams with B-frames unless the target is moved back).
    static bool searchesByDecodingTime(const AVInputFormat *format);

    // repositioned: called after every search of the input (the decoders forget the old position).
    explicit Demuxer(std::function<void()> repositioned);
    ~Demuxer();

    // Opens and probes the input; false with the reason in error. declaredTooLarge: the reason
    // when the header declares a picture larger than the engine takes (the probe then refuses it,
    // leaving the stream without a size).
    bool open(ByteSource *source, QString &error, QString &declaredTooLarge);
    bool open(const char *path, QString &error, QString &declaredTooLarge);
    // Reads the first packet to learn its offset (libavformat no longer tells); read() hands it
    // out first.
    void readFirstPacket();
    void close();

    enum class Read {
        Packet,        // decode the packet
        Taken,         // the landing check took it (or released what it held): work done
        SoughtAgain,   // the landing lay past the target and the input was searched again
        End,           // the input has ended (or cannot be read)
    };
    Read read(AVPacket *packet);

    // Searches for the keyframe at or before the given time (seconds from the first picture); the libavformat result (negative:
    // the search failed and reading goes on from where it stood). frameRate: the video's (0 when
    // unknown); leadUs: the first picture's time after the start; videoReorders: the video stream
    // delays its pictures.
    int seek(double seconds, double frameRate, int64_t leadUs, bool videoReorders);
    // The last landing's limit: a picture stamped later (seconds from the input's start) is past
    // the target.
    double landingLimitSeconds() const { return static_cast<double>(m_LandingLimitUs - m_StartTime) / AV_TIME_BASE; }
    // The first picture decoded after the landing is past the target, although its keyframe's
    // packet stamp was not (packets that carry decoding stamps only): searches again earlier,
    // taking that keyframe and the later ones as past the target. False when no earlier search is
    // left (the picture then stands).
    bool retryEarlier();

    bool isOpen() const { return m_FormatContext != nullptr; }
    AVFormatContext *context() const { return m_FormatContext.get(); }
    int videoStream() const { return m_VideoStream; }
    int audioStream() const { return m_AudioStream; }
    void setVideoStream(int index) { m_VideoStream = index; }
    void setAudioStream(int index) { m_AudioStream = index; }
    // Only the played streams are read: libavformat skips every other stream's packets itself
    // (one that appears later, in MPEG-TS or -PS, once discard() is called for it). audioPlayed:
    // the audio stream's sound is decoded and played.
    void discardUnplayed(bool audioPlayed);
    void discard(int streamIndex);
    int64_t startTimeUs() const { return m_StartTime; }
    // An input that does not know its length (a program stream without time stamps) says
    // AV_NOPTS_VALUE there: that is "unknown", 0, not minus 292 thousand years.
    int64_t durationUs() const
    {
        return m_FormatContext && m_FormatContext->duration != AV_NOPTS_VALUE && m_FormatContext->duration > 0
            ? m_FormatContext->duration
            : 0;
    }
    int64_t dataOffset() const { return m_DataOffset; }

private:
    bool openInput(AVFormatContext *context, const char *url, QString &error, QString &declaredTooLarge);
    // Where the input's times begin (µs, absolute): see InputStart.
    static int64_t startOf(const AVFormatContext *context);
    int seekInput(int64_t timestampUs);
    // av_read_frame() of the next packet of a stream that is not discarded; false at the end.
    bool readPlayed(AVPacket *packet);
    // The earliest time worth searching for (absolute µs): the input's start.
    int64_t floorUs() const;
    // Searches earlier than the last search (further back each time), or, from the input's start,
    // at its first byte.
    int searchEarlier();
    bool canSearchEarlier() const;
    Read checkLanding(AVPacket *packet);
    void releaseLanding();
    // A video packet's presentation (or decoding) time in µs, absolute; AV_NOPTS_VALUE if unknown.
    int64_t videoStampUs(const AVPacket *packet, bool decodingTime) const;

    std::function<void()> m_Repositioned;
    std::unique_ptr<FfdiskIo> m_Io;   // the byte path; outlives m_FormatContext
    FormatContextPtr m_FormatContext;
    int m_VideoStream = -1;
    int m_AudioStream = -1;
    int64_t m_StartTime = 0;   // µs
    int64_t m_DataOffset = 0;
    PacketPtr m_PendingPacket;   // read at open to learn the first packet's offset
    bool m_HasPending = false;
    // The landing check of the last seek.
    bool m_CheckLanding = false;
    int m_LandingRetries = 0;
    bool m_AtStart = false;            // the last search went to the input's first byte
    int m_LandingDropped = 0;          // packets dropped before the first keyframe
    int64_t m_LandingLimitUs = 0;      // a first keyframe stamped later than this landed late
    int64_t m_SeekTimestampUs = 0;     // what libavformat was last asked for
    int64_t m_LateKeyUs = AV_NOPTS_VALUE;     // keyframes stamped this or later land late
    int64_t m_LandedKeyUs = AV_NOPTS_VALUE;   // the keyframe decoding started at
    std::deque<PacketPtr> m_LandingHeld;   // from the last keyframe at or before the target
    int64_t m_LandingHeldBytes = 0;
    std::deque<PacketPtr> m_Replay;        // released by the check, decoded before reading on
};
