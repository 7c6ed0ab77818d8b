#pragma once

#include "seektest/seekrow.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// What seekprobe learnt of one clip: its facts and one row per seek. A run in this process fills
// it directly; a clip probed by a child process is read back from the child's output (parse()).
struct ClipResult {
    QString clip;
    bool opened = false;
    QString error;            // why the clip could not be probed
    QString container;        // libavformat's short name
    QString codec;            // of the video stream
    double frameRate = 0.0;
    bool verified = false;    // --verify: the rows carry content indices
    bool exact = false;       // --exact: the rows carry the picture at the target
    QList<SeekRow> rows;

    // The facts and rows of seekprobe's output for one clip (see SeekProbe::run).
    static ClipResult parse(const QString &clip, const QString &output);
};

// One line of seekprobe's summary table: a clip's seeks in a few figures, and the CI gates it
// crosses. The landing error is counted in pictures: by content when the rows were verified (the
// picture's index in the first pass against the target's, target x frame rate), else by time stamp.
// Latencies are request-to-picture times of the seeks that gave a picture, as nearest-rank
// percentiles.
//
// A plain value; no threads.
struct ClipSummary {
    // Limits of a CI; -1: not checked.
    struct Gates {
        qint64 maxErrorPictures = -1;
        qint64 maxLatencyMs = -1;
    };

    QString clip;
    bool opened = false;
    QString container;
    QString codec;
    int seeks = 0;
    double errorMean = 0.0;      // of the absolute errors, seeks with a picture
    qint64 errorMax = 0;
    int noPicture = 0;
    int corrupt = -1;            // -1: not verified
    int disagree = -1;           // pictures whose time stamp claims another picture; -1: not verified
    // The verdicts of the verified seeks with a picture (SeekRow::Verdict); -1: not verified.
    int right = -1, wrong = -1, unknown = -1, ambiguous = -1;
    qint64 p50Ms = 0;
    qint64 p95Ms = 0;
    qint64 bytesPerSeek = 0;

    static ClipSummary of(const ClipResult &result);
    // The landing error of one row in pictures, as the summary counts it.
    static qint64 errorPictures(const SeekRow &row, double frameRate);

    // Why this clip crosses the gates ("error 30 > 25 pictures", "2 corrupt pictures", "p95 900 >
    // 500 ms"); empty when it passes. Corrupt pictures cross the error gate: their error is unknown.
    QStringList crossed(const Gates &gates) const;

    static QStringList fields();
    QStringList values(const Gates &gates) const;
    // The summaries as a table of aligned columns, one line per clip, with a header line.
    static QString table(const QList<ClipSummary> &summaries, const Gates &gates);
    static QString csv(const QList<ClipSummary> &summaries, const Gates &gates);
};
