#include "seekprobe.h"

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "engine/decoderagent.h"
#include "engine/engineoptions.h"
#include "engine/pixelpacket.h"
#include "seekmark/seekstats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>

#include <random>

namespace {

const char *const kDriverName = "file";
const char *const kUrlPrefix = "file://";
constexpr int kMaxSeeks = 1000000;
// Seeks per report line, as in seekmark.
constexpr int kBatch = SeekStats::BatchLimit + 1;

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

} // namespace

SeekProbe::Arguments SeekProbe::parseArguments(const QStringList &arguments)
{
    Arguments a;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            a.help = true;
            a.ok = true;
            return a;
        }
        if (arg == QLatin1String("--seeks") || arg == QLatin1String("--seed")
            || arg == QLatin1String("--csv")) {
            if (i + 1 >= arguments.size()) {
                a.error = QStringLiteral("%1 needs a value").arg(arg);
                return a;
            }
            const QString value = arguments.at(++i);
            bool number = false;
            if (arg == QLatin1String("--seeks")) {
                const int n = value.toInt(&number);
                if (!number || n < 1 || n > kMaxSeeks) {
                    a.error = QStringLiteral("--seeks takes a number from 1 to %1, not \"%2\"")
                                  .arg(kMaxSeeks)
                                  .arg(value);
                    return a;
                }
                a.options.seeks = n;
            } else if (arg == QLatin1String("--seed")) {
                const uint s = value.toUInt(&number);
                if (!number) {
                    a.error = QStringLiteral("--seed takes a number from 0 to 4294967295, not \"%1\"")
                                  .arg(value);
                    return a;
                }
                a.options.seed = s;
            } else {
                if (value.isEmpty()) {
                    a.error = QStringLiteral("--csv needs a file name");
                    return a;
                }
                a.options.csvFile = value;
            }
            continue;
        }
        if (arg.startsWith(QLatin1String("--"))) {
            a.error = QStringLiteral("unknown option %1").arg(arg);
            return a;
        }
        if (!a.options.clip.isEmpty()) {
            a.error = QStringLiteral("one clip at a time (got %1 and %2)").arg(a.options.clip, arg);
            return a;
        }
        a.options.clip = arg;
    }
    if (a.options.clip.isEmpty()) {
        a.error = QStringLiteral("no clip given");
        return a;
    }
    a.ok = true;
    return a;
}

QString SeekProbe::usage()
{
    return QStringLiteral(
               "usage: seekprobe CLIP [--seeks N] [--seed S] [--csv FILE]\n"
               "  Seeks N times (default %1) to random seconds of CLIP, the same seconds for the same\n"
               "  seed S (default %2), and prints one row per seek, the report line of each batch of\n"
               "  21 and the bytes and 128 KiB blocks read while opening. --csv also writes the rows\n"
               "  to FILE. Exit code 0: every seek produced a picture; 1: one did not; 2: bad command\n"
               "  line; 3: the clip cannot be opened or FILE cannot be written.\n")
        .arg(DefaultSeeks)
        .arg(DefaultSeed);
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

SeekProbe::SeekProbe(const Options &options)
    : m_Options(options)
{
    m_Driver = std::make_unique<FileVideoDriver>();
    m_Driver->m_Listener = &m_Reads;
    m_Engine.registerDriver(QString::fromLatin1(kDriverName), m_Driver.get());
}

SeekProbe::~SeekProbe()
{
    // The decoder thread reads through the driver and reports to the counter: it ends first.
    m_Video.reset();
}

int SeekProbe::run(QTextStream &out, QTextStream &err)
{
    QFile csv(m_Options.csvFile);
    if (!m_Options.csvFile.isEmpty()
        && !csv.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        err << "seekprobe: cannot write " << m_Options.csvFile << ": " << csv.errorString() << Qt::endl;
        return CannotRun;
    }
    QTextStream csvOut(&csv);

    const QString path = QFileInfo(m_Options.clip).absoluteFilePath();
    m_Reads.restart();
    m_Video = std::make_unique<FFMpegVideo>(&m_Engine, QString::fromLatin1(kUrlPrefix) + path,
                                            nullptr, probeOptions());
    if (!m_Video->open()) {
        err << "seekprobe: cannot open " << m_Options.clip << ": " << m_Video->errorString() << Qt::endl;
        return CannotRun;
    }
    const SeekReadCounter::Count opening = m_Reads.count();
    const qint64 duration = m_Video->duration();

    out << "clip: " << path << Qt::endl;
    out << "duration: " << duration << " s, " << m_Video->frameRate() << " fps, " << m_Video->width()
        << "x" << m_Video->height() << Qt::endl;
    out << "seeks: " << m_Options.seeks << ", seed " << m_Options.seed << Qt::endl;
    out << "opening: " << opening.bytes << " bytes, " << opening.blocks << " blocks" << Qt::endl;
    out << SeekRow::csvHeader() << Qt::endl;
    if (csv.isOpen())
        csvOut << SeekRow::csvHeader() << Qt::endl;

    m_Video->play();

    const QList<int> seconds = targets(duration, m_Options.seeks, m_Options.seed);
    QStringList reportLines;
    SeekStats stats;
    int failed = 0;
    for (int i = 0; i < seconds.size(); ++i) {
        bool gotPicture = false;
        SeekRow row = seekOnce(seconds.at(i), gotPicture);
        row.batch = QString::number(i / kBatch + 1);
        if (gotPicture) {
            const SeekStats::Landing landing = stats.record(row.landed, row.target);
            if (landing.batchComplete)
                reportLines << landing.reportLine;
        } else {
            ++failed;
            err << "seekprobe: seek " << i + 1 << " to " << row.target << " s: no picture within "
                << PictureTimeoutMs << " ms" << Qt::endl;
        }
        out << row.csvLine() << Qt::endl;
        if (csv.isOpen())
            csvOut << row.csvLine() << Qt::endl;

        // A batch cut short by the end of the run, or by seeks without pictures, still gets its
        // line; then the next batch starts from nothing.
        const bool batchEnd = (i + 1) % kBatch == 0 || i + 1 == seconds.size();
        if (batchEnd) {
            if (stats.seekCount() > 0)
                reportLines << SeekStats::reportLine(stats.diffSum() / stats.seekCount(),
                                                     stats.maxDiff(), stats.minDiff());
            stats = SeekStats();
        }
    }
    for (const QString &line : reportLines)
        out << line << Qt::endl;
    out << "seeks without a picture: " << failed << " of " << seconds.size() << Qt::endl;

    if (csv.isOpen() && (csvOut.status() != QTextStream::Ok || !csv.flush())) {
        err << "seekprobe: cannot write " << m_Options.csvFile << ": " << csv.errorString() << Qt::endl;
        return CannotRun;
    }
    return failed > 0 ? SeekFailed : Success;
}

SeekRow SeekProbe::seekOnce(int target, bool &gotPicture)
{
    SeekRow row;
    row.target = target;
    row.frameRate = m_Video->frameRate();

    QElapsedTimer clock;
    clock.start();
    // The seek itself reads (the container's index, a search for the keyframe): count from here.
    m_Reads.restart();
    m_Video->seek(target);
    if (m_Video->agent() && m_Video->agent()->lastSeekFailed())
        return row;   // reading went on where it stood: no landing to measure

    // The seek emptied the picture queue, so the first picture that is not the one taken last is
    // the seek's. The one taken last stays alive until the next is taken, so no new picture can
    // have its address.
    PixelPacket *picture = nullptr;
    while (clock.elapsed() < PictureTimeoutMs) {
        PixelPacket *next = m_Video->nextPicture();
        if (next && next != m_LastPicture) {
            picture = next;
            break;
        }
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }

    const qint64 waited = clock.elapsed();
    gotPicture = picture != nullptr;
    const SeekReadCounter::Count reads = m_Reads.count();
    row.bytes = reads.bytes;
    row.blocks = reads.blocks;
    if (!picture)
        return row;
    m_LastPicture = picture;
    row.pictureShown = true;
    row.pictureTime = picture->m_Time;
    row.keyFrame = picture->m_KeyFrame;
    row.requestToPictureMs = waited;
    // The clock follows the pictures: it now stands at the one just taken.
    row.landedKnown = true;
    row.landed = m_Video->position();
    return row;
}
