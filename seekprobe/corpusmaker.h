#pragma once

#include <QList>
#include <QString>

class QTextStream;

// seekprobe --make-corpus: short clips of the cases that trip frame-accurate seeking, one per
// case, made with the FFmpeg libraries the program links (libavcodec's encoders, libavformat's
// muxers; no ffmpeg program). Every picture carries its number as 12 vertical bands, band k
// (k = 0 leftmost) bright (luma 235) when bit k is set and grey (96) otherwise, so each picture
// differs from every other and a reader can tell which one it has. Beside the clips,
// "corpus.csv" gives each clip's case and the facts a seek relies on, as muxed: pictures, rate,
// keyframe spacing, B-frames, the first picture's time stamp, the keyframe packets written.
// Each clip is written under a hidden name and renamed when complete.
//
// Runs on the calling thread; the encoders may use threads of their own.
class CorpusMaker {
public:
    struct Case {
        const char *file;
        const char *hard;          // what is hard about it, for corpus.csv
        const char *format;        // libavformat's muxer
        const char *encoder;       // libavcodec's encoder
        const char *options;       // the encoder's private options, "key=value;key=value"
        int rate = 25;             // nominal pictures a second
        int pictures = 150;
        int keyEvery = 18;         // pictures from one keyframe to the next
        int bFrames = 0;
        enum class Stamps { Regular, Variable, Wrapping, Negative, LateStart } stamps = Stamps::Regular;
        bool interlaced = false;
    };

    static const QList<Case> &cases();
    // Writes every case's clip and corpus.csv into folder, progress to out; false (with the reason
    // on err) when a clip could not be made.
    static bool make(const QString &folder, QTextStream &out, QTextStream &err);
};
