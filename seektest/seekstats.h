#pragma once

#include <QString>
#include <QtGlobal>

// How far seeks land from the second they asked for, in batches of 21 random seeks, plus the two
// ways a seek target is chosen (a random second, a clicked fraction of the clip). All in whole
// seconds. The player records each landing and writes the report line a full batch yields.
//
// Owned and used by the GUI thread only; no locking.
class SeekStats {
public:
    // m_MinDiff's value while no seek of the batch has been measured.
    static constexpr int NoSeekYet = 9999999;
    // A batch is complete once more than this many seeks are measured.
    static constexpr int BatchLimit = 20;
    // The last seconds of a clip that random seeks never ask for.
    static constexpr qint64 TailSeconds = 30;

    struct Landing {
        int diff = 0;        // position - target: positive when the seek landed after the target
        int absDiff = 0;     // what the statistics count
        bool forward = false;  // diff > 0: worth the "FORWARD" debug line
        // The running figures after this seek, for the "Average" debug line.
        int average = 0;     // m_DiffSum / m_SeekCount, fraction dropped
        int maxDiff = 0;
        int minDiff = 0;
        // Set when this seek completed a batch: the line for the report file (without line end).
        // The statistics have been reset by then.
        bool batchComplete = false;
        QString reportLine;
    };

    struct Target {
        bool valid = false;
        int seconds = 0;
        QString reason;  // why there is no target; short enough for a window title
    };

    // Measures one seek: position and target in whole seconds.
    Landing record(qint64 position, qint64 target);

    // "Average <avg> MAX DIFF <max> MIN DIFF <min>"
    static QString reportLine(int average, int maxDiff, int minDiff);

    // A random second in 0 .. duration - 31: random mod (duration - 30), random being the next
    // value of rand(). Clips of 30 seconds or less have no such range.
    static Target randomTarget(int random, qint64 duration);

    // The second at the clicked fraction x / width of a clip of duration seconds, truncated: the
    // left edge is second 0, the last pixel column never reaches duration. Clicks outside
    // 0 .. width - 1 count as the nearest edge.
    static qint64 clickTarget(qint64 duration, int x, int width);

    int diffSum() const { return m_DiffSum; }
    int seekCount() const { return m_SeekCount; }
    int maxDiff() const { return m_MaxDiff; }
    int minDiff() const { return m_MinDiff; }

    // Starts a new batch.
    void reset();

private:

    int m_DiffSum = 0;
    int m_SeekCount = 0;
    int m_MaxDiff = 0;
    int m_MinDiff = NoSeekYet;
};
