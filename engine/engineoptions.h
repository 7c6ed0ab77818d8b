#pragma once

#include <QThread>

#include <algorithm>

// Everything in which the two programs' engines differ, chosen once by the program that creates
// the decoder. The engine is one code base; nothing else may tell the programs apart.
struct EngineOptions {
    // Worker loop cadence. After a step that did work the worker sleeps afterWorkMs; after one that
    // did nothing it first waits idleWaitMs on its (never signalled) wait condition and then sleeps
    // afterIdleMs. While paused it sleeps pausedMs per pass.
    int afterWorkMs = 10;
    int idleWaitMs = 10;
    int afterIdleMs = 10;
    int pausedMs = 100;
    // The worker skips the sleep after a step that did work while the picture queue, or the audio
    // queue when sound is decoded, holds fewer packets than this; 0 never skips it. The fixed
    // cadence (about 100 packets a second in seekmark) cannot feed 60 pictures a second plus
    // 48 kHz sound (about 107 packets); and after a seek or at the start, when both queues are
    // empty, every sleep delays the first picture. Once the queues are half full the designed
    // cadence applies again.
    int catchUpBelow = 16;

    // Engine log lines through the "decoder" channels; off means silent.
    bool logChannels = true;
    // Decode the audio stream into the audio queue; off releases audio packets unread.
    bool decodeAudio = true;
    // At the end of input: stop the worker and emit videoEnd() once the pictures are shown; off
    // keeps polling the input, so reading resumes by itself after a seek.
    bool stopAtEnd = true;
    // Always drive the clock from the pictures, never from the sound.
    bool noAudioClock = false;
    // One plain debug line per converted picture and per picture request (framewise's trace).
    bool pictureDebugLines = false;
    // Consistency checks of the packet queues (the assertion report when a queue was never set up).
    bool queueChecks = true;
    // Frame threads of the video decoder; 0 leaves it to FFmpeg (one more than the cores). Each
    // thread holds pictures of its own (about 20 MB at 1080p) and their hand-offs cost CPU.
    int decoderThreads = 0;
    // pause() only pauses the sound; the worker keeps reading until the queues are full and the
    // paused flag stays clear, so start() never flushes.
    bool pauseOnlyAudio = false;

    static EngineOptions seekmark() { return EngineOptions(); }

    static EngineOptions framewise()
    {
        EngineOptions o;
        o.afterWorkMs = 5;
        o.idleWaitMs = 0;
        o.afterIdleMs = 15;
        o.logChannels = false;
        o.decodeAudio = false;
        o.stopAtEnd = false;
        o.noAudioClock = true;
        o.pictureDebugLines = true;
        o.queueChecks = false;
        o.pauseOnlyAudio = true;
        // Two decoders share the cores: each takes its half. On two cores one thread each decodes
        // both clips in parallel, with 40 MB and about 5 % of the CPU less than FFmpeg's choice.
        o.decoderThreads = std::max(1, QThread::idealThreadCount() / 2);
        return o;
    }
};
