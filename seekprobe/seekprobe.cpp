#include "seekprobe.h"

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "engine/decoderagent.h"
#include "engine/engineoptions.h"
#include "engine/ffmpegptr.h"
#include "engine/pixelpacket.h"
#include "seektest/seekstats.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>

#include <cmath>
#include <random>

namespace {

const char *const kDriverName = "file";
const char *const kUrlPrefix = "file://";
constexpr int kMaxSeeks = 1000000;
constexpr qint64 kProgressEveryMs = 2000;

// seekmark's engine without sound: no audio decoded, the clock taken from the pictures, and the
// input kept open at its end so a seek after reaching it reads on.
EngineOptions probeOptions()
{
    EngineOptions o = EngineOptions::seekmark();
    o.decodeAudio = false;
    o.noAudioClock = true;
    o.stopAtEnd = false;
    return o;
}

// The container's first short name and the video codec's name, read by libavformat straight from
// the file: only names, so they need not go through the measured byte path.
QStringList formatNames(const QString &path)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return {QStringLiteral("?"), QStringLiteral("?")};
    FormatContextPtr context(raw);
    avformat_find_stream_info(context.get(), nullptr);
    const int video = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const QString container = QString::fromLatin1(context->iformat->name).section(QLatin1Char(','), 0, 0);
    const QString codec = video >= 0 ? QString::fromLatin1(avcodec_get_name(context->streams[video]->codecpar->codec_id))
                                     : QStringLiteral("?");
    return {container, codec};
}

const QStringList kVideoSuffixes = {"mp4", "m4v", "mov", "mkv", "webm", "avi", "mpg", "mpeg", "ts",
                                    "m2ts", "mts", "flv", "wmv", "ogv", "3gp", "mxf", "vob"};

} // namespace

SeekProbe::Arguments SeekProbe::parseArguments(const QStringList &arguments)
{
    Arguments a;
    Options &o = a.options;
    const QStringList withValue = {"--seeks", "--seed", "--csv", "-j", "--summary", "--plot",
                                   "--max-error-pictures", "--max-latency-ms"};
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            a.help = a.ok = true;
            return a;
        }
        if (arg == QLatin1String("--verify") || arg == QLatin1String("--exact") || arg == QLatin1String("--recursive")) {
            (arg == QLatin1String("--verify") ? o.verify : arg == QLatin1String("--exact") ? o.exact : o.recursive) = true;
            continue;
        }
        if (withValue.contains(arg)) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                a.error = QStringLiteral("%1 needs a value").arg(arg);
                return a;
            }
            const QString value = arguments.at(++i);
            bool number = false;
            const qint64 n = value.toLongLong(&number);
            auto bad = [&](qint64 low, qint64 high) {
                if (number && n >= low && n <= high)
                    return false;
                a.error = QStringLiteral("%1 takes a number from %2 to %3, not \"%4\"").arg(arg).arg(low).arg(high).arg(value);
                return true;
            };
            if (arg == QLatin1String("--seeks")) {
                if (bad(1, kMaxSeeks))
                    return a;
                o.seeks = int(n);
            } else if (arg == QLatin1String("--seed")) {
                if (bad(0, 4294967295LL))
                    return a;
                o.seed = quint32(n);
            } else if (arg == QLatin1String("-j")) {
                if (bad(1, 256))
                    return a;
                o.jobs = int(n);
            } else if (arg == QLatin1String("--max-error-pictures")) {
                if (bad(0, 1000000000))
                    return a;
                o.gates.maxErrorPictures = n;
            } else if (arg == QLatin1String("--max-latency-ms")) {
                if (bad(0, 1000000000))
                    return a;
                o.gates.maxLatencyMs = n;
            } else {
                (arg == QLatin1String("--csv") ? o.csvFile : arg == QLatin1String("--summary") ? o.summaryFile : o.plotFile) = value;
            }
            continue;
        }
        if (arg.startsWith(QLatin1Char('-'))) {
            a.error = QStringLiteral("unknown option %1").arg(arg);
            return a;
        }
        o.inputs << arg;
    }
    if (o.inputs.isEmpty()) {
        a.error = QStringLiteral("no clip given");
        return a;
    }
    a.ok = true;
    return a;
}

QString SeekProbe::usage()
{
    return QStringLiteral(
               "usage: seekprobe CLIP|FOLDER ... [--seeks N] [--seed S] [--verify] [--exact] [-j N]\n"
               "                 [--recursive] [--csv FILE] [--summary FILE.csv] [--plot FILE.svg]\n"
               "                 [--max-error-pictures N] [--max-latency-ms M]\n"
               "  Seeks N times (default %1) to random seconds of each clip (a folder: its video files),\n"
               "  the same seconds for the same seed S (default %2). One clip: its facts, one row per\n"
               "  seek, the report line of each batch of 21 and a closing count; --csv also writes the\n"
               "  rows to FILE. Then a summary table, one line per clip (--summary writes it as CSV).\n"
               "  --verify: decode each clip from its start first and find each seek's picture by its\n"
               "  content. --exact: decode on to the picture at the target. -j: clips at once (default:\n"
               "  the cores). --plot: a chart per clip. The gates: the landing error in pictures (a\n"
               "  corrupt picture crosses it) and the p95 of request-to-picture times.\n"
               "  Exit status 0: all seeks gave a picture and no gate was crossed; 1: a seek gave no\n"
               "  picture; 2: bad command line; 3: a clip cannot be opened or a file cannot be\n"
               "  written; 4: a clip crossed a gate. With several, the lowest of 3, 4, 1 wins.\n")
        .arg(DefaultSeeks)
        .arg(DefaultSeed);
}

QStringList SeekProbe::clips(const QStringList &inputs, bool recursive)
{
    QStringList list;
    for (const QString &input : inputs) {
        if (!QFileInfo(input).isDir()) {
            list << input;
            continue;
        }
        QStringList found;
        QDirIterator it(input, QDir::Files, recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
        while (it.hasNext()) {
            const QString path = it.next();
            if (kVideoSuffixes.contains(QFileInfo(path).suffix().toLower()))
                found << path;
        }
        found.sort();
        list << found;
    }
    return list;
}

QList<int> SeekProbe::targets(qint64 durationSeconds, int count, quint32 seed)
{
    std::mt19937 generator(seed);
    QList<int> list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        // 31 bits, like rand() here: never negative.
        const int random = static_cast<int>(generator() & 0x7fffffffu);
        const SeekStats::Target target = SeekStats::randomTarget(random, durationSeconds);
        if (target.valid)
            list << target.seconds;
        else
            list << (durationSeconds > 0 ? static_cast<int>(random % durationSeconds) : 0);
    }
    return list;
}

quint64 SeekProbe::pictureHash(const PixelPacket &picture)
{
    return picture.m_Buffer ? PictureIndex::hash(picture.m_Buffer, picture.m_Size) : 0;
}

SeekProbe::SeekProbe(const Options &options, const QString &clip)
    : m_Options(options)
    , m_Clip(clip)
{
    m_Clock.start();
    m_Result.clip = clip;
    m_Result.verified = options.verify;
    m_Driver = std::make_unique<FileVideoDriver>();
    m_Driver->m_Listener = &m_Reads;
    m_Engine.registerDriver(QString::fromLatin1(kDriverName), m_Driver.get());
}

SeekProbe::~SeekProbe()
{
    // The decoder thread reads through the driver and reports to the counter: it ends first.
    m_Video.reset();
}

qint64 SeekProbe::clockMs() const
{
    const DecoderAgent *agent = m_Video ? m_Video->agent() : nullptr;
    return agent ? static_cast<qint64>(agent->m_Clock.load() * 1000.0) : 0;
}

qint64 SeekProbe::elapsed() const
{
    return m_Clock.elapsed();
}

int SeekProbe::run(QTextStream &out, QTextStream &err)
{
    const SeekRow::Columns columns{m_Options.verify, m_Options.exact};
    QFile csv(m_Options.csvFile);
    if (!m_Options.csvFile.isEmpty() && !csv.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        err << "seekprobe: cannot write " << m_Options.csvFile << ": " << csv.errorString() << Qt::endl;
        m_Result.error = csv.errorString();
        return CannotRun;
    }
    QTextStream csvOut(&csv);

    const QString path = QFileInfo(m_Clip).absoluteFilePath();
    // The first pass has a decoder of its own, gone before the measured one opens.
    const qint64 passStart = elapsed();
    const bool passComplete = m_Options.verify && firstPass(QString::fromLatin1(kUrlPrefix) + path, err);
    const qint64 passMs = elapsed() - passStart;
    m_Reads.restart();
    m_Video = std::make_unique<FFMpegVideo>(&m_Engine, QString::fromLatin1(kUrlPrefix) + path, nullptr, probeOptions());
    if (!m_Video->open()) {
        err << "seekprobe: cannot open " << m_Clip << ": " << m_Video->errorString() << Qt::endl;
        m_Result.error = m_Video->errorString();
        return CannotRun;
    }
    const SeekReadCounter::Count opening = m_Reads.count();
    const qint64 duration = m_Video->duration();
    const QStringList names = formatNames(path);
    m_Result.opened = true;
    m_Result.container = names.at(0);
    m_Result.codec = names.at(1);
    m_Result.frameRate = m_Video->frameRate();

    out << "clip: " << path << Qt::endl;
    out << "format: " << m_Result.container << " / " << m_Result.codec << Qt::endl;
    out << "duration: " << duration << " s, " << m_Result.frameRate << " fps, " << m_Video->width() << "x"
        << m_Video->height() << Qt::endl;
    out << "seeks: " << m_Options.seeks << ", seed " << m_Options.seed << Qt::endl;
    out << "opening: " << opening.bytes << " bytes, " << opening.blocks << " blocks" << Qt::endl;

    if (m_Options.verify)
        out << "first pass: " << m_Index.size() << " pictures, " << m_Index.keyFrames() << " keyframes in " << passMs
            << " ms" << (passComplete ? "" : " (stalled before the end)") << Qt::endl;
    m_Video->play();
    out << SeekRow::csvHeader(columns) << Qt::endl;
    if (csv.isOpen())
        csvOut << SeekRow::csvHeader(columns) << Qt::endl;

    SeekSession::Options sessionOptions;
    sessionOptions.landOnFirstPicture = true;
    sessionOptions.rowForEverySeek = true;
    SeekSession session(&m_Reads, sessionOptions);
    SeekSession::Clip clip;
    clip.opened = true;
    clip.durationMs = m_Video->durationMs();
    clip.frameRate = m_Result.frameRate;
    session.opened(clip, elapsed());

    QStringList reportLines;
    // Rows and report lines of what the session answers; seeks go to the decoder.
    auto carryOut = [&](const SeekSession::Actions &actions) {
        for (const SeekSession::Action &a : actions) {
            if (a.kind == SeekSession::Action::Kind::SeekTo) {
                m_Video->seek(static_cast<int>(a.seconds));
                session.seekStarted(elapsed(), clockMs());
            } else if (a.kind == SeekSession::Action::Kind::Row) {
                m_Result.rows << a.row;
            } else if (a.kind == SeekSession::Action::Kind::ReportLine) {
                reportLines << a.text;
            }
        }
    };

    const QList<int> seconds = targets(duration, m_Options.seeks, m_Options.seed);
    int failed = 0;
    qint64 progressAt = elapsed();
    for (int i = 0; i < seconds.size(); ++i) {
        if (elapsed() - progressAt >= kProgressEveryMs) {
            progressAt = elapsed();
            err << "seekprobe: " << QFileInfo(m_Clip).fileName() << ": seek " << i + 1 << " of " << seconds.size() << Qt::endl;
        }
        const qint64 requestedAt = elapsed();
        const qsizetype rowsBefore = m_Result.rows.size();
        carryOut(session.seekTo(requestedAt, seconds.at(i)));
        // The scheduler hands out no picture of the old position once the seek is asked for, so
        // the first picture that is not the one taken last is the seek's. A seek the decoder could
        // not make left reading where it stood: no landing.
        PixelPacket *picture = nextNewPicture(*m_Video, m_LastPicture, PictureTimeoutMs);
        const bool seekFailed = !picture && m_Video->agent() && m_Video->agent()->lastSeekFailed();
        if (!picture) {
            ++failed;
            if (seekFailed)
                err << "seekprobe: seek " << i + 1 << " to " << seconds.at(i) << " s: the decoder could not seek" << Qt::endl;
            else
                err << "seekprobe: seek " << i + 1 << " to " << seconds.at(i) << " s: no picture within "
                    << PictureTimeoutMs << " ms" << Qt::endl;
            carryOut(session.seekFailed(elapsed()));
        } else {
            PictureIndex::Match match;
            if (m_Options.verify)
                match = m_Index.match(pictureHash(*picture), picture->m_Time, m_Result.frameRate);
            carryOut(session.pictureShown(elapsed(), clockMs(), picture->m_Time, picture->m_KeyFrame));
            if (m_Result.rows.size() > rowsBefore) {
                SeekRow &row = m_Result.rows.last();
                row.verified = m_Options.verify;
                row.contentIndex = match.contentIndex;
                row.timeIndex = match.timeIndex;
                if (m_Options.exact)
                    decodeToTarget(row, requestedAt);
            }
        }
        for (qsizetype r = rowsBefore; r < m_Result.rows.size(); ++r) {
            out << m_Result.rows.at(r).csvLine(columns) << Qt::endl;
            if (csv.isOpen())
                csvOut << m_Result.rows.at(r).csvLine(columns) << Qt::endl;
        }
    }
    carryOut(session.finish());
    for (const QString &line : reportLines)
        out << line << Qt::endl;
    out << "seeks without a picture: " << failed << " of " << seconds.size() << Qt::endl;

    if (csv.isOpen() && (csvOut.status() != QTextStream::Ok || !csv.flush())) {
        err << "seekprobe: cannot write " << m_Options.csvFile << ": " << csv.errorString() << Qt::endl;
        return CannotRun;
    }
    return failed > 0 ? SeekFailed : Success;
}

PixelPacket *SeekProbe::nextNewPicture(FFMpegVideo &video, const PixelPacket *&last, int timeoutMs)
{
    // The one taken last stays alive until the next is taken, so no new picture can have its address.
    QElapsedTimer clock;
    clock.start();
    do {
        PixelPacket *next = video.nextPicture();
        if (next && next != last) {
            last = next;
            return next;
        }
        if (video.agent() && video.agent()->lastSeekFailed())
            return nullptr;
        QCoreApplication::processEvents();
        QThread::msleep(1);
    } while (clock.elapsed() < timeoutMs);
    return nullptr;
}

bool SeekProbe::firstPass(const QString &url, QTextStream &err)
{
    // Stopping at the end tells when every picture is out: the worker stops once they are taken.
    EngineOptions options = probeOptions();
    options.stopAtEnd = true;
    FFMpegVideo pass(&m_Engine, url, nullptr, options);
    if (!pass.open())
        return false;
    pass.play();
    const PixelPacket *last = nullptr;
    QElapsedTimer idle;
    idle.start();
    qint64 progressAt = elapsed();
    while (idle.elapsed() < PictureTimeoutMs) {
        if (elapsed() - progressAt >= kProgressEveryMs) {
            progressAt = elapsed();
            err << "seekprobe: " << QFileInfo(m_Clip).fileName() << ": first pass, " << m_Index.size() << " pictures"
                  << Qt::endl;
        }
        if (PixelPacket *picture = nextNewPicture(pass, last, 1)) {
            m_Index.add(picture->m_Time, picture->m_KeyFrame, pictureHash(*picture));
            idle.restart();
        } else if (pass.agent()->isStopped()) {
            // A picture queued just before the stop is still to be taken.
            if (PixelPacket *late = nextNewPicture(pass, last, 1))
                m_Index.add(late->m_Time, late->m_KeyFrame, pictureHash(*late));
            else
                return true;
        }
    }
    return false;
}

void SeekProbe::decodeToTarget(SeekRow &row, qint64 requestedAt)
{
    // The first picture at or after the target; 1 ms of slack keeps a stamp a hair early (time
    // bases that do not divide the rate) on its own second.
    const double due = double(row.target) - 0.001;
    double time = row.pictureTime;
    int decoded = 0;
    while (time < due) {
        PixelPacket *picture = nextNewPicture(*m_Video, m_LastPicture, PictureTimeoutMs);
        if (!picture)
            return;
        time = picture->m_Time;
        ++decoded;
    }
    row.exactReached = true;
    row.exactTime = time;
    row.exactMs = elapsed() - requestedAt;
    row.exactPictures = decoded;
}
