#pragma once

// Owning pointers for every FFmpeg object the engine creates, so that each is released exactly
// once on every path, including the failure paths of opening.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>

struct FormatContextDeleter {
    // Closes an input opened with avformat_open_input. A caller-supplied I/O context (custom I/O)
    // is left alone: its owner frees it after the input is closed.
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};

struct OutputContextDeleter {
    // Closes the file of an output made with avformat_alloc_output_context2 and frees the context.
    void operator()(AVFormatContext *context) const
    {
        if (context && context->oformat && !(context->oformat->flags & AVFMT_NOFILE))
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

struct DictionaryDeleter {
    void operator()(AVDictionary *dictionary) const { av_dict_free(&dictionary); }
};

struct CodecContextDeleter {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};

struct FrameDeleter {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};

struct PacketDeleter {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};

struct SwsContextDeleter {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};

struct SwrContextDeleter {
    void operator()(SwrContext *context) const { swr_free(&context); }
};

struct AvioContextDeleter {
    // libavformat may have replaced the buffer handed to avio_alloc_context with a larger one, so
    // the buffer is freed through the context, not through the pointer originally allocated.
    void operator()(AVIOContext *context) const
    {
        if (!context)
            return;
        av_freep(&context->buffer);
        avio_context_free(&context);
    }
};

struct FilterGraphDeleter {
    // Frees the graph with every filter in it (the buffer sources and sinks too).
    void operator()(AVFilterGraph *graph) const { avfilter_graph_free(&graph); }
};

struct FilterInOutDeleter {
    void operator()(AVFilterInOut *list) const { avfilter_inout_free(&list); }
};

struct AvFreeDeleter {
    void operator()(void *memory) const { av_free(memory); }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;
using AvioContextPtr = std::unique_ptr<AVIOContext, AvioContextDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutDeleter>;
using AvBufferPtr = std::unique_ptr<uint8_t, AvFreeDeleter>;
