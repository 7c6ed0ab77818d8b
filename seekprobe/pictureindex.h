#pragma once

#include "seektest/seekrow.h"

#include <QHash>
#include <QList>
#include <QtGlobal>

#include <cstdint>

// The first pass of seekprobe --verify: every picture of a decode from the clip's start, in order,
// with its time, its keyframe flag and a 64-bit hash of its decoded bytes. A picture after a seek
// is then found by its content: its index here is what it really is, whatever its time stamp says
// (the time's claim counts pictures at the clip's frame rate from its start).
// Pictures that look alike (a still scene) share a hash; the one nearest the time stamp's claim
// counts. A picture found nowhere was decoded differently after the seek than from the start: a
// picture decoded without its references.
//
// The verdict judges a seek to a second against the picture wanted: the seeks are keyframe seeks,
// so that is the last keyframe of this decode whose time, counted from the first picture's, is at
// or before the second (1 ms of slack), or the first picture when no keyframe is.
//
// A plain value, filled and read by one thread; no locking.
class PictureIndex {
public:
    struct Match {
        qint64 contentIndex = -1;   // -1: nowhere in the first pass
        qint64 timeIndex = 0;       // the picture whose interval at the frame rate holds the time
        qint64 wantedIndex = 0;     // the picture a seek to the target should give
        SeekRow::Verdict verdict = SeekRow::Verdict::Unknown;
        qint64 distance = 0;        // Wrong: the picture's index less the wanted one's
    };

    // 64 bits of the bytes; the same bytes always give the same hash, on any machine.
    static quint64 hash(const uint8_t *data, qint64 size);

    void add(double time, bool keyFrame, quint64 hash);
    int size() const { return m_Times.size(); }
    int keyFrames() const { return m_KeyFrames; }

    // Where a picture of this hash and time lies, and the verdict on it as the landing of a seek to
    // targetSeconds.
    Match match(quint64 hash, double time, double frameRate, double targetSeconds) const;

private:
    QList<double> m_Times;
    QList<qint64> m_KeyIndices;   // in the order of the decode
    int m_KeyFrames = 0;
    QMultiHash<quint64, qint64> m_ByHash;
};
