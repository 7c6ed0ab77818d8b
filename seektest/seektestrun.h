#pragma once

#include "seektest/seekstats.h"

#include <QString>
#include <QtGlobal>

// The sequence of a seek-test run, started and stopped from the keyboard: ask for a random second,
// wait for the seek to land (or to fail), let the landing be seen for a moment, ask for the next
// one, batch after batch, until stopped. It decides only when the next seek is due, when a run
// gives up, and what the window title says about the progress; the player does the seeking and the
// measuring (SeekStats keeps the batch figures, LandingWatch tells when a seek landed).
//
// A run gives up after MaxFailuresInARow seeks in a row that never landed (a clip the decoder
// cannot seek in, a stalled decoder) instead of asking for ever. Counts of finished batches and
// failed seeks last for the life of the object, like the batch statistics, across runs and clips.
//
// Time comes from the caller as monotonic milliseconds. GUI thread only; no locking.
class SeekTestRun {
public:
    // Pause between a measured landing and the next request, so the landing shows on screen.
    static constexpr qint64 NextSeekDelayMs = 250;
    static constexpr int MaxFailuresInARow = 3;
    static constexpr int SeeksPerBatch = SeekStats::BatchLimit + 1;

    // The first seek is due at once.
    void start(qint64 nowMs);
    void stop();
    bool isActive() const { return m_Active; }

    // A seek was asked for; no other is due until it has landed or failed.
    void seekAsked();
    bool isWaiting() const { return m_Waiting; }
    // The seek asked for will never be measured (its clip was closed): neither landed nor failed.
    void seekAbandoned() { m_Waiting = false; }
    // The next seek is due: active, not waiting, and the pause after the last one is over.
    bool seekDue(qint64 nowMs) const;

    // The seek asked for landed and was measured; batchComplete when it closed a batch.
    void landed(qint64 nowMs, bool batchComplete);
    // The seek asked for never landed. True when the run gave up (and stopped) because of it.
    bool failed(qint64 nowMs);

    // "seek test: batch 2, seek 7/21", plus ", 1 failed" once a seek has failed. measuredInBatch:
    // seeks of the current batch measured so far.
    QString progress(int measuredInBatch) const;
    // Why the run stopped by itself; empty when it did not.
    QString stopReason() const { return m_StopReason; }

    int batchesDone() const { return m_BatchesDone; }
    int failedSeeks() const { return m_FailedSeeks; }
    int failuresInARow() const { return m_FailuresInARow; }

private:
    bool m_Active = false;
    bool m_Waiting = false;
    qint64 m_NextSeekAt = 0;
    int m_BatchesDone = 0;
    int m_FailedSeeks = 0;
    int m_FailuresInARow = 0;
    QString m_StopReason;
};
