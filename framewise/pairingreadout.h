#pragma once

#include "picturemetrics.h"

#include <QPoint>
#include <QString>

#include <array>
#include <optional>

class PixelPacket;
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
// While paused or stepping the title also carries the pair's PSNR (luma and all planes) and SSIM
// (luma), "measuring" until they are known; the second clip's offset when it is not 0; the
// cursor's picture pixel with both clips' Y'CbCr samples there; the zoom and the difference or
// split view; and the background pass for the worst pairs (its progress, then which of them is
// shown).
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
    // A step moved the clip's shown picture by so many pictures (none: it was repositioned, the
    // number starts again).
    void stepped(Clip clip, double time, std::optional<int> pictures);
    // The first clip showed a picture while the second had none to compare with.
    void unpaired();
    // Both clips were sought to the given second: the numbers start again.
    void seeked(int second);
    void setShowing(Clip clip);
    void setPaused(bool paused);

    // The second clip's offset in pictures.
    void setOffset(int pictures);
    // The shown pair's figures; none while they are being measured. Shown only while paused.
    void setScores(std::optional<PairScores> scores);
    // What the cursor points at: a picture pixel and each clip's Y'CbCr samples there (a clip
    // without a picture there: none).
    struct Sample {
        QPoint pixel;
        std::optional<std::array<int, 3>> values[2];
    };
    void setSample(std::optional<Sample> sample);
    // A picture's Y'CbCr samples at a pixel (its chroma sample for 4:2:0); none outside it.
    static std::optional<std::array<int, 3>> sampleAt(const PixelPacket &picture, QPoint pixel);
    enum class View { Plain, Difference, Split };
    void setView(View view, double zoom);
    // The background pass for the worst pairs: its progress (0 to 1) while it runs; afterwards
    // the worst pair shown (counted from 1) of how many, or 0 before the first jump.
    void setPassProgress(double fraction);
    void setWorstShown(int index, int count);
    // A free word for what is under way (a step that waits for its pictures); empty for none.
    void setActivity(const QString &activity);

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
    int m_Offset = 0;
    bool m_HaveScores = false;
    PairScores m_Scores;
    std::optional<Sample> m_Sample;
    View m_View = View::Plain;
    double m_Zoom = 1.0;
    double m_PassProgress = -1.0;   // no pass running
    int m_WorstIndex = 0;
    int m_WorstCount = -1;          // no pass finished
    QString m_Activity;
    bool m_Sought = false;          // a seek came: the readout shows even before pictures
    bool m_AwaitingPair = true;     // the next pairing is the first since the clips were positioned

    bool m_Changed = true;
    bool m_Urgent = true;
    bool m_EverTaken = false;
    qint64 m_TakenAtMs = 0;
};
