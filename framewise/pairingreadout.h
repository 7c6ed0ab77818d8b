#pragma once

#include <QString>
#include <QtGlobal>

// What framewise's window title says about the pairing, so that a person can trust what a left
// click compares: for each clip the picture in its texture, with its time (counted from the clip's
// first picture, the time the pairing compares) and its number since the clips were last
// positioned (the start or a right-click seek; the first picture then is #0); how the last
// pairing went; how many pictures the second clip skipped and how often it held its picture since
// the clips were positioned (a single skip may come and go between two renewals of the title, its
// count stays);
// which clip is on screen; whether a pause holds the picture. Until the first picture the title is
// the bare program name.
//
// The player reports every picture a decoder hands out (a picture counts once, however often its
// decoder hands it out again, so the number follows the clip's own picture order, skipped
// pictures included), which of them went into a texture, and each pairing's step.
//
// Setting a window title is a round trip to the X server: while pictures come the title is
// renewed at most every MinTitleIntervalMs, but at once after what a person does (pause, switch,
// seek) and for the first pairing after the clips were positioned.
//
// A plain value object of the GUI thread; no locking. Times of day are the caller's clock, in
// milliseconds.
class PairingReadout {
public:
    enum Clip { First = 0, Second = 1 };
    // How a pairing went: the second clip took one picture, passed some over, or kept its own.
    enum class Pairing { InStep, SkipSecond, HoldSecond };

    static constexpr qint64 MinTitleIntervalMs = 100;

    // The bare title, shown before the first picture; every readout starts with it.
    static QString programName() { return QStringLiteral("framewise"); }

    // A picture handed out by the clip's decoder, with the time the pairing compares (seconds).
    void picture(Clip clip, double time);
    // The clip's last picture handed out went into its texture.
    void shown(Clip clip);
    // The two clips' pictures were paired; skipped: the second clip's pictures passed over.
    void paired(Pairing pairing, int skipped = 0);
    // The first clip showed a picture while the second had none to compare with.
    void unpaired();
    // Both clips were sought to the given second: the numbers start again.
    void seeked(int second);
    void setShowing(Clip clip);
    void setPaused(bool paused);

    QString title() const;

    // Something changed since the title was last taken, and it may be set now.
    bool titleDue(qint64 nowMs) const;
    // The title to set now; the throttle counts from nowMs.
    QString takeTitle(qint64 nowMs);

private:
    enum class Step { None, InStep, SkipSecond, HoldSecond, NoSecond, Seeking };

    struct ClipState {
        bool handedOut = false;   // a picture since the clips were positioned
        double lastTime = 0.0;
        int lastNumber = 0;
        bool shown = false;       // that picture, or an earlier one, is in the texture
        double shownTime = 0.0;
        int shownNumber = 0;
    };

    void changed(bool urgent);
    QString clipText(Clip clip) const;
    QString stepText() const;

    ClipState m_Clips[2];
    Step m_Step = Step::None;
    int m_SeekSecond = 0;
    int m_Skips = 0;
    int m_Holds = 0;
    Clip m_Showing = First;
    bool m_Paused = false;
    bool m_Sought = false;          // a seek came: the readout shows even before pictures
    bool m_AwaitingPair = true;     // the next pairing is the first since the clips were positioned

    bool m_Changed = true;
    bool m_Urgent = true;
    bool m_EverTaken = false;
    qint64 m_TakenAtMs = 0;
};
