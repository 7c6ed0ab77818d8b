// Every file of the hostile corpus through both forms of the engine: seekmark's (an FFMpegVideo
// reading through the file driver) and framewise's (a decoder opening the file by path). Each
// either refuses the file with a reason that names the problem, or plays what can be decoded to
// the end; nothing crashes, hangs or takes gigabytes of memory on the way.
#include "hostilesupport.h"

#include "tests/common/testclips.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QDir>
#include <QFileInfo>

#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace {

using hostile::PlayResult;

enum class Expect {
    Plays,     // opens in both forms and at least minPictures pictures come out
    Refused,   // both forms refuse it with a reason containing one of `why` ('|'-separated)
    Either,    // damaged beyond prediction: either of the two, done cleanly
};

struct HostileCase {
    std::string file;
    Expect expect = Expect::Either;
    std::string why;
    int minPictures = 1;
};

void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.file; }

// What the generator makes of the clip corpus, and what each file must do.
std::vector<HostileCase> cases()
{
    std::vector<HostileCase> all;
    const char *const notMedia = "not a readable media file|no stream information found";

    // Truncated copies of every corpus clip. Cut at 50 % and 90 % a clip keeps a playable start;
    // at 10 % an MP4's index (at its start) may be cut, and the file is refused.
    struct Clip {
        const char *stem;
        const char *ext;
        const char *refusal;   // non-null: the whole clip is refused, for this reason
        bool cut10Plays;
    };
    const Clip clips[] = {
        {"h264_long", "mp4", nullptr, true},        {"vp9_opus", "mkv", nullptr, true},
        {"h264_aac", "mp4", nullptr, true},         {"h264_nobframes", "mkv", nullptr, true},
        {"mpeg2_mp2", "mpg", nullptr, true},        {"h264_noaudio", "mp4", nullptr, false},
        {"audio_only", "m4a", "no video stream", false},
        {"surround51", "mp4", nullptr, true},       {"odd_321x241", "mkv", nullptr, true},
        {"subtitles", "mkv", nullptr, true},        {"ts_offset10", "ts", nullptr, true},
        {"h264_60fps", "mp4", nullptr, false},      {"vfr", "mkv", nullptr, true},
        {"no_decoder", "mkv", "no decoder for the video codec", false},
        {"sound_late", "mp4", nullptr, true},       {"sound_short60", "ts", nullptr, true},
        {"sound_hole", "mkv", nullptr, true},       {"sound_coarse", "mp4", nullptr, true},
        {"mpeg2_gop12", "mpg", nullptr, true},      {"no_audio_decoder", "mkv", nullptr, true},
    };
    for (const Clip &clip : clips) {
        for (int percent : {10, 50, 90}) {
            const std::string file = std::string(clip.stem) + ".cut" + std::to_string(percent) + "." + clip.ext;
            if (clip.refusal)
                all.push_back({file, Expect::Refused, std::string(clip.refusal) + "|" + notMedia, 0});
            else if (percent > 10 || clip.cut10Plays)
                all.push_back({file, Expect::Plays, "", 1});
            else
                all.push_back({file, Expect::Refused, notMedia, 0});
        }
    }

    // Bytes changed in the payload: decoders conceal what they can.
    for (const char *clip : {"h264_aac.flip40.mp4", "h264_nobframes.flip40.mkv", "mpeg2_mp2.flip40.mpg",
                             "vp9_opus.flip40.mkv", "ts_offset10.flip40.ts", "odd_321x241.flip40.mkv",
                             "surround51.flip40.mp4", "vfr.flip40.mkv", "h264_aac.flip2000.mp4",
                             "h264_nobframes.flip2000.mkv", "mpeg2_mp2.flip2000.mpg", "vp9_opus.flip2000.mkv",
                             "ts_offset10.flip2000.ts", "odd_321x241.flip2000.mkv", "surround51.flip2000.mp4",
                             "vfr.flip2000.mkv", "h264_long.flip5000.mp4", "h264_aac.header.mp4",
                             "h264_nobframes.header.mkv"})
        all.push_back({clip, Expect::Either, "", 0});

    const HostileCase oddFiles[] = {
        {"empty.mp4", Expect::Refused, "the file is empty|not a readable media file", 0},
        {"empty.mkv", Expect::Refused, "the file is empty|not a readable media file", 0},
        {"one_byte.mkv", Expect::Refused, notMedia, 0},
        {"random.mp4", Expect::Refused, notMedia, 0},
        {"random.mkv", Expect::Refused, notMedia, 0},
        // Noise can pass for an MPEG-TS with a video stream of no known size.
        {"random.ts", Expect::Refused, "not a readable media file|no picture size", 0},
        {"random_after_header.mp4", Expect::Either, "", 0},
        {"random_after_header.mkv", Expect::Either, "", 0},
        {"index_at_end.cut90.mp4", Expect::Refused, notMedia, 0},
        // Both halves are shown, the second scaled to the size the clip opened with.
        {"resize_up.ts", Expect::Plays, "", 90},
        {"resize_down.ts", Expect::Plays, "", 90},
        // The first half plays; the decoder refuses the 16000 x 16000 pictures of the second.
        {"resize_to_16000x16000.ts", Expect::Plays, "", 40},
        {"sps_16000x16000.h264", Expect::Refused, "too large", 0},
        {"sps_32768x32768.h264", Expect::Refused, "no picture size|not a readable media file|too large", 0},
        {"rawvideo_16000x16000.mkv", Expect::Refused, "too large", 0},
        // The stream's own size overrides the container's claim.
        {"h264_declared_16000_wide.mkv", Expect::Plays, "", 190},
        {"audio_only.mp3", Expect::Refused, "no video stream", 0},
        {"video_no_decoder.mkv", Expect::Refused, "no decoder for the video codec", 0},
        {"audio_no_decoder.mkv", Expect::Plays, "", 190},   // the picture alone
        {"attachment.mkv", Expect::Plays, "", 190},
        {"timecode_track.mp4", Expect::Plays, "", 190},
        {"data_stream.ts", Expect::Plays, "", 190},
        {"no_timestamps.mpg", Expect::Plays, "", 150},
    };
    all.insert(all.end(), std::begin(oddFiles), std::end(oddFiles));
    return all;
}

bool mentionsOneOf(const QString &text, const std::string &alternatives)
{
    for (const QString &why : QString::fromStdString(alternatives).split(QLatin1Char('|'), Qt::SkipEmptyParts))
        if (text.contains(why))
            return true;
    return false;
}

std::string describe(const PlayResult &r)
{
    if (!r.opened)
        return "refused: " + r.error.toStdString();
    return "played " + std::to_string(r.pictures) + " pictures (" + std::to_string(r.picturesAfterSeeks)
        + " more after " + std::to_string(r.seeksPlayed) + " seeks)" + (r.timedOut ? ", TIMED OUT" : "");
}

// A form that refuses must say what is wrong, and why it is among what the case allows.
void expectRefusal(const PlayResult &r, const HostileCase &c, const char *form)
{
    EXPECT_FALSE(r.error.trimmed().isEmpty()) << form << ": refused without a reason";
    EXPECT_FALSE(r.error.contains(QLatin1String("could not open the input")))
        << form << ": only the generic reason: " << r.error.toStdString();
    if (c.expect == Expect::Refused) {
        EXPECT_TRUE(mentionsOneOf(r.error, c.why)) << form << ": " << r.error.toStdString();
    }
}

class HostileFiles : public ::testing::TestWithParam<HostileCase> {
protected:
    // Damaged streams make FFmpeg report every broken macroblock; the test checks outcomes.
    static void SetUpTestSuite()
    {
        if (!qEnvironmentVariableIsSet("HOSTILE_FFMPEG_LOG"))
            av_log_set_level(AV_LOG_FATAL);
    }
    static void TearDownTestSuite() { av_log_set_level(AV_LOG_INFO); }
};

TEST_P(HostileFiles, RefusedWithAReasonOrPlayedToTheEnd)
{
    const HostileCase &c = GetParam();
    const QString path = hostile::corpusPath(QString::fromStdString(c.file));
    ASSERT_TRUE(QFileInfo::exists(path)) << "not generated: " << path.toStdString();
    const bool measurePeak = !hostile::sanitizerBuild() && hostile::resetPeak();
    const qint64 before = hostile::residentBytes();

    // Seekmark's form ends by itself at videoEnd(); a few seeks after it, each played to the end
    // again, try the damaged file's index and time stamps.
    hostile::SeekmarkRun run;
    run.seeksAfterEnd = 3;
    const PlayResult seekmark = hostile::playSeekmarkForm(path, 30000, run);
    // Framewise's form keeps polling at the end: it is done with as many pictures as the other form
    // decoded from the same bytes, or when none has come for a while.
    const PlayResult framewise = hostile::playFramewiseForm(path, 30000, seekmark.pictures, 1000);
    std::cout << "[ hostile  ] " << c.file << ": seekmark " << describe(seekmark) << "; framewise "
              << describe(framewise) << std::endl;

    EXPECT_FALSE(seekmark.timedOut) << "seekmark form did not reach the end";
    EXPECT_FALSE(framewise.timedOut) << "framewise form did not stop delivering pictures";
    // The same bytes, read through the program's own I/O or by libavformat itself.
    EXPECT_EQ(seekmark.opened, framewise.opened) << "the two forms disagree";
    if (seekmark.opened) {
        EXPECT_TRUE(seekmark.ended) << "seekmark form: no videoEnd";
        EXPECT_EQ(seekmark.seeksPlayed, 3) << "seekmark form: a seek after the end did not play to the end";
    } else {
        expectRefusal(seekmark, c, "seekmark form");
    }
    if (!framewise.opened)
        expectRefusal(framewise, c, "framewise form");
    if (c.expect != Expect::Either) {
        EXPECT_EQ(seekmark.opened, c.expect == Expect::Plays) << seekmark.error.toStdString();
        EXPECT_GE(seekmark.pictures, c.minPictures);
        EXPECT_GE(framewise.pictures, c.minPictures);
    }
    if (measurePeak) {
        // Far above what a 640 x 480 clip needs, far below what a 16000 x 16000 picture costs.
        const qint64 growth = hostile::peakResidentBytes() - before;
        EXPECT_LT(growth, qint64(1) << 30) << "peak memory grew by " << growth / (1 << 20) << " MiB";
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileFiles, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<HostileCase> &info) {
                             std::string name = info.param.file;
                             for (char &ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

// A seek that the input cannot do (no time stamps, no index) leaves reading where it was; the log
// says so, where a clip that can seek stays silent.
TEST(HostileSeeks, ASeekTheInputCannotDoIsLogged)
{
    hostile::useDummyAudio();
    EngineOptions options = hostile::fastSeekmark();
    options.logChannels = true;
    for (const auto &[path, failedLines] : {std::pair{hostile::corpusPath("no_timestamps.mpg"), 1},
                                            std::pair{testsupport::clipPath("mpeg2_mp2.mpg"), 0}}) {
        SCOPED_TRACE(path.toStdString());
        hostile::MessageLog log;
        hostile::FileSource source(path);
        DecoderAgent decoder(&source, options);
        ASSERT_TRUE(decoder.open()) << decoder.openError().toStdString();
        decoder.seek(3);
        EXPECT_EQ(log.count(QStringLiteral("seek to 3 s failed")), failedLines);
    }
}

TEST(HostileCorpus, EveryGeneratedFileHasAnExpectation)
{
    std::set<std::string> known;
    for (const HostileCase &c : cases())
        known.insert(c.file);
    std::set<std::string> generated;
    for (const QString &file : QDir(hostile::corpusDir()).entryList(QDir::Files))
        if (file != QLatin1String("hostile.stamp"))
            generated.insert(file.toStdString());
    ASSERT_FALSE(generated.empty()) << "no hostile corpus in " << hostile::corpusDir().toStdString();
    EXPECT_EQ(generated, known);
}

} // namespace
