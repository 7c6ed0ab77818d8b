#pragma once

#include "access/videoengine.h"
#include "seekprobe/clipsummary.h"
#include "seekprobe/pictureindex.h"
#include "seektest/seekreadcounter.h"
#include "seektest/seeksession.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

class FFMpegVideo;
class FileVideoDriver;
class PixelPacket;
class QTextStream;

// The headless seek probe of one clip: opens it through the same engine and access layer as
// seekmark (a FileVideoDriver registered under "file", an FFMpegVideo reading every byte through
// it) and drives seekmark's SeekSession with a reproducible series of random seconds; prints the
// clip's facts, a row per seek (seekmark's seek table), the report line of each batch of 21 (a
// shorter last batch included) and a closing count. No window and no sound: the engine decodes no
// audio and its clock follows the pictures, so every picture is handed out as soon as it is decoded
// and the first one after a seek is the picture the seek produced.
//
// --verify first decodes the clip from its start and keeps a PictureIndex; each seek's picture is
// then found by its content. --exact decodes on after the landing to the picture at the target.
// Each seek waits, up to PictureTimeoutMs, for its first picture; a seek without one gives a row
// with empty picture columns and makes the run fail (SeekFailed).
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
        SeekFailed = 1,    // a seek produced no picture
        BadArguments = 2,
        CannotRun = 3,     // a clip cannot be opened, or an output file cannot be written
        GateCrossed = 4,   // a clip crossed --max-error-pictures or --max-latency-ms
    };

    struct Options {
        QStringList inputs;        // clips and folders as given
        int seeks = DefaultSeeks;
        quint32 seed = DefaultSeed;
        int seekTo = -1;           // --seek-to: every seek asks for this second; -1: random seconds
        QString csvFile;           // empty: rows only on standard output
        bool verify = false;
        bool exact = false;
        int jobs = 0;              // 0: the number of cores
        bool recursive = false;
        QString summaryFile;
        QString plotFile;
        ClipSummary::Gates gates;
        int childTimeoutSeconds = 60;   // a child silent this long hangs and is ended
        // A part of a run split over machines (see ShardPlan): --shard K/N, --shard-count N, and
        // the folder its files go to; empty: not a part.
        QString shard;
        int shardCount = 0;
        QString outFolder;
        // seekprobe merge FOLDER...: the inputs are the parts' folders.
        bool merge = false;
    };

    struct Arguments {
        bool ok = false;
        bool help = false;   // -h or --help: print usage() and succeed
        Options options;
        QString error;       // why the command line was refused
    };

    static Arguments parseArguments(const QStringList &arguments);
    static QString usage();
    // The video files of the inputs: a clip as given, a folder's video files by name (its
    // sub-folders too with recursive). A missing input is kept: probing it says it cannot be opened.
    static QStringList clips(const QStringList &inputs, bool recursive);

    // count seek targets for a clip of durationSeconds whole seconds, the same for the same seed on
    // any machine (std::mt19937). Clips longer than 30 s follow seekmark's rule (0 to duration - 31);
    // shorter ones use the whole clip (0 to duration - 1), and a clip under a second only 0.
    static QList<int> targets(qint64 durationSeconds, int count, quint32 seed);

    // The command line that repeats one seek of a clip with --verify, quoted for a POSIX shell.
    static QString repeatCommand(const QString &clip, qint64 seconds);

    // The 64-bit hash of a picture as the queue holds it: every byte of its payload, whatever the
    // layout of its planes.
    static quint64 pictureHash(const PixelPacket &picture);

    SeekProbe(const Options &options, const QString &clip);
    ~SeekProbe();
    SeekProbe(const SeekProbe &) = delete;
    SeekProbe &operator=(const SeekProbe &) = delete;

    // Probes the clip, printing the results to out and problems and progress to err; returns an
    // ExitCode (Success, SeekFailed or CannotRun).
    int run(QTextStream &out, QTextStream &err);
    const ClipResult &result() const { return m_Result; }

private:
    // The next picture the video hands out that is not the one taken last (last follows it);
    // null after timeoutMs.
    static PixelPacket *nextNewPicture(FFMpegVideo &video, const PixelPacket *&last, int timeoutMs);
    // Decodes the clip at url from its start into m_Index, with progress to err; false when it
    // stalled or did not open.
    bool firstPass(const QString &url, QTextStream &err);
    // Decodes on from the landing to the picture at the row's target.
    void decodeToTarget(SeekRow &row, qint64 requestedAt);
    qint64 clockMs() const;
    qint64 elapsed() const;

    const Options m_Options;
    const QString m_Clip;
    ClipResult m_Result;
    SeekReadCounter m_Reads;
    std::unique_ptr<FileVideoDriver> m_Driver;
    VideoEngine m_Engine;
    std::unique_ptr<FFMpegVideo> m_Video;
    const PixelPacket *m_LastPicture = nullptr;   // the picture taken last; it stays the scheduler's
    PictureIndex m_Index;
    QElapsedTimer m_Clock;   // monotonic time of the requests and pictures
};
