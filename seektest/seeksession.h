#pragma once

#include "seektest/landingwatch.h"
#include "seektest/pendingseekrow.h"
#include "seektest/seekreadcounter.h"
#include "seektest/seekrow.h"
#include "seektest/seekstats.h"
#include "seektest/seektestrun.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

// The life of a seek measurement, from the request to the measured landing, in one place: the
// seek-test run started by the T key, the right-click seek, their two landing watches, the
// pending row of the seek table, the batch statistics and the report line, the reopen of the clip
// after a batch (held back while the batch's last row waits for its picture) and the title text.
// Events come in (a key, a click, the decoder's acknowledgement, the clock read on a tick, a
// picture shown, a failed seek, the clip closed and reopened); what to do goes out as a list of
// actions, which the caller carries out in order. seekmark's window routes its events here and
// does what comes back; seekprobe drives the same session with targets of its own.
//
// A Reopen action is always the last of its list: carrying it out reopens the clip, which comes
// back here as closing() and opened() while the list is being carried out. A right click that
// arrives while a reopen waits first reopens and is carried out once the fresh clip has opened.
//
// Time (monotonic ms), the playback clock (ms) and the random draws come from the caller; the
// read counter, when given, is restarted at every request and read when a row is filled in.
// Owned and used by one thread (seekmark's GUI thread, seekprobe's main thread); no locking.
class SeekSession {
public:
    struct Action {
        enum class Kind {
            SeekTo,       // ask the decoder for `seconds`; then tell seekStarted()
            Say,          // a debug line, `text`
            ReportLine,   // append `text` to the report file
            Row,          // append `row` to the seek table
            Reopen,       // open the clip afresh (always last)
            Retitle,      // the window title's tail is now `text` (empty: the clip name alone)
        };
        Kind kind = Kind::Say;
        qint64 seconds = 0;
        bool click = false;   // SeekTo: the seek of a right click
        QString text;
        SeekRow row;
    };
    using Actions = std::vector<Action>;

    struct Options {
        // Headless: no sound, and the clock follows the pictures handed out, so the first picture
        // after a request is the landing (the clock may well show the same second as before).
        bool landOnFirstPicture = false;
        // Write a row for every seek, also one that never landed (its picture columns stay empty).
        bool rowForEverySeek = false;
    };

    // What the caller knows of the clip just opened.
    struct Clip {
        bool opened = false;
        QString failure;        // why it did not open
        qint64 durationMs = 0;
        double frameRate = 0.0;
        bool hasAudio = false;
    };

    // random: the draws of random seeks, rand() when null.
    SeekSession(SeekReadCounter *reads, Options options, std::function<int()> random = nullptr);
    explicit SeekSession(SeekReadCounter *reads = nullptr) : SeekSession(reads, Options()) {}

    // The clip is about to go (a reopen, the end of the program): a seek on its way is not measured.
    Actions closing();
    // A clip was opened (or failed to open).
    Actions opened(const Clip &clip, qint64 nowMs);
    // The T key: starts or stops a seek-test run.
    Actions keyT(qint64 nowMs);
    // The P key: playback paused, so seeks cannot land; a run ends.
    Actions paused();
    // A right press at x in a window width pixels wide.
    Actions rightClick(qint64 nowMs, int x, int width);
    // A seek to target asked for by the caller (seekprobe's chosen seconds).
    Actions seekTo(qint64 nowMs, qint64 target);
    // The SeekTo just returned has been handed to the decoder; clockMs as it stands now.
    void seekStarted(qint64 nowMs, qint64 clockMs);
    // The decoder's seekDone(), handled at clockMs; stillPending: the decoder's own flag says the
    // seek watched has not delivered its sound yet (this one belongs to an earlier seek).
    Actions seekDone(qint64 clockMs, bool stillPending);
    // The decoder reports that the seek asked for could not be made: it will not land.
    Actions seekFailed(qint64 nowMs);
    // A tick: time has passed and the clock reads clockMs. Landings, time-outs, the next seek due.
    Actions tick(qint64 nowMs, qint64 clockMs);
    // A picture was shown (or, headless, handed out) at nowMs; clockMs is the clock after it.
    Actions pictureShown(qint64 nowMs, qint64 clockMs, double time, bool keyFrame);
    // The caller's run is over: a batch cut short still gets its report line.
    Actions finish();

    // The window title's tail: the run's progress, or why something did not work.
    QString titleText() const;
    const SeekStats &stats() const { return m_Stats; }
    const SeekTestRun &run() const { return m_Run; }

    // The playback position in whole seconds the clock shows: rounded half up, as Video::position().
    static qint64 positionOf(qint64 clockMs) { return (clockMs + 500) / 1000; }

private:
    void say(const QString &text);
    void retitle();
    void randomSeek(qint64 nowMs);
    void ask(qint64 nowMs, qint64 target, bool click);
    void click(qint64 nowMs, int x, int width);
    void stopRun(const QString &note);
    void reportSeek(qint64 nowMs, qint64 clockMs);
    void failed(qint64 nowMs, const QString &why);
    void finishRow();
    void reopen();
    SeekReadCounter::Count reads() const;
    qint64 durationSeconds() const { return m_Clip.durationMs / 1000; }

    SeekReadCounter *const m_Reads;   // not owned; may be null
    const Options m_Options;
    std::function<int()> m_Random;
    Actions m_Out;                    // the actions of the event being handled

    Clip m_Clip;
    SeekStats m_Stats;
    SeekTestRun m_Run;
    LandingWatch m_Watch;             // the landing of the last random or chosen seek
    LandingWatch m_ClickWatch;        // the landing of the last right-click seek, for its row
    PendingSeekRow m_PendingRow;
    qint64 m_SeekTarget = 0;          // second of the last random or chosen seek
    qint64 m_ClickTarget = 0;         // second of the last right click; 0 before the first
    bool m_ClickAsked = false;        // the SeekTo out last is a click's (seekStarted arms its watch)
    bool m_ReopenAfterRow = false;    // a batch is complete; its reopen waits for the last row
    qint64 m_ReopenDeadline = 0;
    bool m_DeferredClick = false;     // a click that came while the reopen waited: after opened()
    int m_DeferredX = 0;
    int m_DeferredWidth = 0;
    QString m_Note;                   // why something did not work, for the title
};
