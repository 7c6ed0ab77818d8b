#pragma once

#include "seektest/seekreadcounter.h"
#include "seektest/seekrow.h"

#include <QString>
#include <QtGlobal>

#include <optional>

// The row of the seek asked for last, filled in as the seek goes on: the first picture shown after
// the request and the second the seek landed on arrive in either order (with sound the clock may
// show the new position before the first new picture is due, without sound the picture moves the
// clock). The row is worth writing once the seek landed; the player writes it as soon as the
// picture is in too, and otherwise when the row has to end (the next seek, a reopened clip), then
// with empty picture columns.
//
// Time (monotonic ms) and the read counts come from the caller. GUI thread only; no locking.
class PendingSeekRow {
public:
    // How long a landed row may wait for its picture when something else waits for the row (the
    // reopen at the end of a batch).
    static constexpr qint64 PictureWaitMs = 2000;

    // A seek to target was asked for at nowMs. Replaces a row still open: close() it first.
    void begin(const QString &batch, qint64 target, qint64 nowMs, double frameRate);
    // The first picture shown since begin(); later ones and pictures with no row open are ignored.
    // reads: what was read since the request.
    void pictureShown(double time, bool keyFrame, qint64 nowMs, const SeekReadCounter::Count &reads);
    // The seek landed on position (whole seconds). Ignored with no row open.
    void landed(qint64 position);

    bool isOpen() const { return m_Open; }
    bool hasPicture() const { return m_Open && m_Row.pictureShown; }
    bool hasLanded() const { return m_Open && m_Row.landedKnown; }
    // Landed and with its picture: nothing more to wait for.
    bool isComplete() const { return hasPicture() && hasLanded(); }

    // Ends the row. Returns it when it landed (a seek that never landed is not measured), or with
    // evenUnlanded always; without a picture its reads are those counted so far (readsSoFar).
    std::optional<SeekRow> close(const SeekReadCounter::Count &readsSoFar, bool evenUnlanded = false);

private:
    bool m_Open = false;
    qint64 m_RequestedAt = 0;
    SeekRow m_Row;
};
