#pragma once

#include "engineoptions.h"
#include "streamdecoder.h"

#include <cstdint>
#include <functional>
#include <vector>

class DataQueue;
class PlaybackClock;
class SoundGate;

// The audio half of the decoder: the first audio stream's decoder, the resampler to the audio
// device's channels and rate as interleaved 16-bit samples, the blocks' time stamps (in stream
// units from the input's start; see TimestampFallback), and the audio queue they go to. Every
// frame of a packet is played.
//
// Threads: opened on the GUI thread before the worker starts, released after it has ended;
// decode() and flush() run on the worker or in a seek, under the decoder's lock. The queue, the
// clock and the gate guard themselves; lock order as the decoder's (its lock, then a queue's).
class AudioStage : public StreamDecoder {
public:
    // blockQueued: called after each block went to the queue (the decoder acknowledges a seek).
    AudioStage(const EngineOptions &options, PlaybackClock *clock, DataQueue *queue, SoundGate *gate,
               std::function<void()> blockQueued);
    ~AudioStage() override;

    // Opens the decoder of stream; startTimeUs: the input's start, subtracted from every stamp.
    bool open(AVStream *stream, int64_t startTimeUs, QString &error);
    // The device's channels and rate: what the resampler delivers.
    void setDevice(int channels, int rate);

    // One packet, whatever becomes of it.
    void decode(AVPacket *packet);
    // A new position: the decoder forgets the old one.
    void flush();
    // The blocks from now on belong to the seek with this serial. exactFrom (seconds from the
    // input's start, as the pictures' times): sound before it is dropped, the block across it cut
    // there; -infinity keeps it all.
    void startPosition(int serial, double exactFrom);

private:
    void queueFrame(AVFrame *frame);
    bool ensureResampler(const AVFrame *frame);

    const EngineOptions m_Options;
    PlaybackClock *m_Clock;   // not owned; the decoder's
    DataQueue *m_Queue;       // not owned; the decoder's
    SoundGate *m_Gate;        // not owned; the decoder's
    std::function<void()> m_BlockQueued;
    std::vector<uint8_t> m_Buffer;   // one converted audio frame
    SwrContextPtr m_Resampler;
    int m_ResamplerFormat = -1;
    int m_ResamplerRate = 0;
    AVChannelLayout m_ResamplerLayout{};
    int m_DeviceChannels = 0;
    int m_DeviceRate = 0;
    int64_t m_StartOffset = 0;   // the input's start in stream units
    int64_t m_NextPts = AV_NOPTS_VALUE;
    int m_Serial = 0;                  // of the seek the blocks belong to
    int64_t m_From = AV_NOPTS_VALUE;   // an exact seek's target in stream units, until reached
};
