#pragma once

#include <QString>
#include <QtGlobal>

// One measured seek as a line of the seek table: which batch asked for it, the second asked for,
// the second it landed on (the playback position in whole seconds, as the report measures it),
// the first picture shown after the request (its time, its distance from the target in seconds
// and in pictures, whether it is a keyframe, how long after the request it came) and what the
// decoder read for the seek (bytes and distinct 128 KiB blocks, from the request to that picture).
//
// A seek that landed without a picture shown before the row had to be written, or a probe seek
// that never produced one, leaves the picture columns empty; a seek that produced a picture but
// whose landing was not measured leaves the landed column empty.
//
// A plain value: no threads, no locking.
struct SeekRow {
    // What the batch column holds for a right-click seek.
    static constexpr const char *ClickBatch = "click";

    QString batch;                 // batch number from 1, or ClickBatch
    qint64 target = 0;             // second asked for
    bool landedKnown = false;
    qint64 landed = 0;             // whole seconds
    bool pictureShown = false;
    double pictureTime = 0.0;      // seconds from the clip's start
    bool keyFrame = false;
    qint64 requestToPictureMs = 0;
    double frameRate = 0.0;        // the clip's pictures per second, for the error in pictures
    qint64 bytes = 0;
    int blocks = 0;

    // What seekprobe --verify makes of the picture against the picture wanted (the keyframe at or
    // before the target in a decode from the start): the same picture; a known picture elsewhere
    // (distancePictures away, positive when later); a picture found nowhere in that decode; or one
    // whose content several pictures share, the wanted one among them.
    enum class Verdict { None, Right, Wrong, Unknown, Ambiguous };
    static QString verdictName(Verdict verdict);

    // seekprobe --verify: the picture's place in a decode from the start, found by its content
    // (-1: it appears nowhere there, a picture decoded without its references), and the place its
    // time stamp claims (the picture at the frame rate whose interval holds the time).
    bool verified = false;
    qint64 contentIndex = -1;
    qint64 timeIndex = 0;
    Verdict verdict = Verdict::None;   // None: no picture to judge
    qint64 distancePictures = 0;       // Wrong only
    int decoderThreads = 0;            // the video decoder's threads (0: not known)
    QString repeat;                    // a command line that repeats the seek; empty when right
    // seekprobe --exact: the picture at the target, reached by decoding on after the landing.
    bool exactReached = false;
    double exactTime = 0.0;
    qint64 exactMs = 0;          // from the request
    int exactPictures = 0;       // decoded after the first picture to reach it

    // Which of the optional column groups a table carries.
    struct Columns {
        bool verify = false;
        bool exact = false;
    };

    // The picture's time less the target: positive when the picture lies after the second asked for.
    double errorSeconds() const { return pictureTime - static_cast<double>(target); }
    // errorSeconds() in pictures of the clip's rate, rounded to the nearest (half away from zero);
    // 0 for a rate that is not a positive number.
    qint64 errorPictures() const;

    // "batch,target_s,landed_s,picture_s,error_s,error_pictures,keyframe,request_to_picture_ms,bytes,blocks",
    // then "content_index,time_index,agree,verdict,distance_pictures,decoder_threads,repeat" and
    // "exact_picture_s,exact_ms,exact_pictures" if asked.
    static QString csvHeader(Columns columns);
    static QString csvHeader() { return csvHeader(Columns()); }
    // The fields in the header's order; seconds of the picture and of the error with three
    // decimals, the keyframe as 1 or 0, unknown fields empty; a picture found nowhere by its
    // content has "corrupt" as its content index. No line end.
    QString csvLine(Columns columns) const;
    QString csvLine() const { return csvLine(Columns()); }
    // A line of a table with this header back into a row; false when it is not one.
    static bool parse(const QStringList &header, const QString &line, SeekRow &row);
    static bool parse(const QStringList &header, const QStringList &fields, SeekRow &row);

    // A CSV field, quoted when it holds a comma or a quote; and a line split back into its fields.
    static QString csvField(QString value);
    static QStringList splitCsv(const QString &line);
};
