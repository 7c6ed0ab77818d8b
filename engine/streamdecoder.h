#pragma once

#include "ffmpegptr.h"

#include <QString>

// What the video and the audio stage share: the decoder of one stream of the input, and the
// engine's one "decoder" log channel (lines name the file decoderagent, as they always did).
//
// Threads: opened on the GUI thread before the worker starts and released after it has ended;
// between the two, used by the worker and by seeks, both under the decoder's lock. m_Stream
// points into the input's stream array, whose streams stay where they are while it grows.
class StreamDecoder {
public:
    virtual ~StreamDecoder() = default;

    // Opens the decoder of stream (video: frame threads and the picture size limit); false with
    // the reason in error. threads: the video decoder's frame threads, 0 for FFmpeg's choice.
    bool openCodec(AVStream *stream, bool video, QString &error, int threads = 0);
    AVCodecContext *codec() const { return m_Codec.get(); }
    const AVStream *stream() const { return m_Stream; }

    static QString ffmpegError(int code);
    static void log(int level, const QString &text, int line);

protected:
    AVStream *m_Stream = nullptr;   // not owned; the input's
    CodecContextPtr m_Codec;
    FramePtr m_Frame;
};

// For the engine's own sources: a log line when the options ask for the channels.
#define DECODER_LOG(level, text)                                \
    do {                                                        \
        if (m_Options.logChannels)                              \
            StreamDecoder::log((level), (text), __LINE__);      \
    } while (0)
