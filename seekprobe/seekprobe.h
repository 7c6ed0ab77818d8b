#pragma once

#include "access/videoengine.h"
#include "seektest/seekreadcounter.h"
#include "seektest/seekrow.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

class FFMpegVideo;
class FileVideoDriver;
class PixelPacket;
class QFile;
class QTextStream;

// The headless seek probe: opens one clip through the same engine and access layer as seekmark
// (a FileVideoDriver registered under "file", an FFMpegVideo reading every byte through it), runs
// a reproducible series of random seeks and prints, for each, the row seekmark writes to its seek
// table; then the report line of each batch of 21 (seekmark's format, a shorter last batch
// included), and a closing count. No window and no sound: the engine decodes no audio and its
// clock follows the pictures, so every picture is handed out as soon as it is decoded and the
// first one after a seek is the picture the seek produced.
//
// Each seek waits, up to PictureTimeoutMs, for the first new picture; a seek without one gives a
// row with empty picture columns and makes the run fail (exit code 1).
//
// Threads: everything here runs on the calling (main) thread, which also drives the decoder's
// controls and takes its pictures; the decoder reads on its own thread and reports to m_Reads,
// which guards itself. The video is deleted before the driver and the counter go.
class SeekProbe {
public:
    static constexpr int DefaultSeeks = 21;
    static constexpr quint32 DefaultSeed = 1;
    static constexpr int PictureTimeoutMs = 10000;

    enum ExitCode {
        Success = 0,
        SeekFailed = 1,   // a seek produced no picture
        BadArguments = 2,
        CannotRun = 3,    // the clip cannot be opened, or the CSV file cannot be written
    };

    struct Options {
        QString clip;
        int seeks = DefaultSeeks;
        quint32 seed = DefaultSeed;
        QString csvFile;   // empty: rows only on standard output
    };

    struct Arguments {
        bool ok = false;
        bool help = false;   // -h or --help: print usage() and succeed
        Options options;
        QString error;       // why the command line was refused
    };

    // The arguments after the program name: CLIP [--seeks N] [--seed S] [--csv FILE].
    static Arguments parseArguments(const QStringList &arguments);
    static QString usage();

    // count seek targets for a clip of durationSeconds whole seconds, the same for the same seed on
    // any machine (std::mt19937). Clips longer than 30 s follow seekmark's rule (0 to duration - 31);
    // shorter ones use the whole clip (0 to duration - 1), and a clip under a second only 0.
    static QList<int> targets(qint64 durationSeconds, int count, quint32 seed);

    explicit SeekProbe(const Options &options);
    ~SeekProbe();
    SeekProbe(const SeekProbe &) = delete;
    SeekProbe &operator=(const SeekProbe &) = delete;

    // Runs the probe, printing the results to out and problems to err; returns an ExitCode.
    int run(QTextStream &out, QTextStream &err);

private:
    // One seek and its first picture; the row's batch is filled in by the caller.
    SeekRow seekOnce(int target, bool &gotPicture);

    const Options m_Options;
    SeekReadCounter m_Reads;
    std::unique_ptr<FileVideoDriver> m_Driver;
    VideoEngine m_Engine;
    std::unique_ptr<FFMpegVideo> m_Video;
    const PixelPacket *m_LastPicture = nullptr;   // the picture taken last; it stays the scheduler's
};
