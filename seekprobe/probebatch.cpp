#include "probebatch.h"

#include "seekprobe/probereport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr qint64 kProgressEveryMs = 2000;

} // namespace

QList<ClipResult> ProbeBatch::run(const QStringList &clips, const SeekProbe::Options &options, QTextStream &err,
                                  int &code)
{
    QStringList common{"--seeks", QString::number(options.seeks), "--seed", QString::number(options.seed)};
    if (options.verify)
        common << "--verify";
    if (options.exact)
        common << "--exact";
    if (options.seekTo >= 0)
        common << "--seek-to" << QString::number(options.seekTo);
    const int jobs = options.jobs > 0 ? options.jobs : std::max(1, QThread::idealThreadCount());

    QList<ClipResult> results(clips.size());
    std::vector<std::unique_ptr<QProcess>> running(clips.size());
    QList<QByteArray> output(clips.size());
    QList<QElapsedTimer> heard(clips.size());
    // A child says something at least every two seconds (rows, progress, the engine's lines); one
    // silent for the time-out hangs, and is ended so the other clips still get their table.
    const qint64 silentMs = qint64(options.childTimeoutSeconds) * 1000;
    QList<bool> hung(clips.size(), false);
    int next = 0, active = 0, done = 0;
    code = SeekProbe::Success;
    QEventLoop loop;
    QElapsedTimer progress;
    progress.start();

    auto seeksDone = [&] {
        int rows = 0;
        for (const QByteArray &o : output)
            for (const QByteArray &line : o.split('\n'))
                rows += !line.isEmpty() && line.at(0) >= '0' && line.at(0) <= '9';
        return rows;
    };
    std::function<void()> startMore = [&] {
        while (active < jobs && next < clips.size()) {
            const int i = next++;
            ++active;
            auto process = std::make_unique<QProcess>();
            QProcess *p = process.get();
            heard[i].start();
            QObject::connect(p, &QProcess::readyReadStandardError, &loop, [&, i] { heard[i].restart(); });
            QObject::connect(p, &QProcess::readyReadStandardOutput, &loop, [&, i, p] {
                heard[i].restart();
                output[i] += p->readAllStandardOutput();
                if (progress.elapsed() >= kProgressEveryMs) {
                    progress.restart();
                    err << "seekprobe: " << done << " of " << clips.size() << " clips done, " << seeksDone()
                        << " seeks" << Qt::endl;
                }
            });
            auto complete = [&, i, p](int exitCode, bool crashed) {
                output[i] += p->readAllStandardOutput();
                results[i] = ClipResult::parse(clips.at(i), QString::fromUtf8(output[i]));
                // The child's last line says why, naming the clip.
                QString why = QString::fromUtf8(p->readAllStandardError()).trimmed().section(QLatin1Char('\n'), -1);
                why.remove(QRegularExpression(QStringLiteral("^seekprobe: ")));
                if (crashed || exitCode == SeekProbe::CannotRun) {
                    results[i].opened = false;
                    results[i].error = hung[i]  ? QStringLiteral("seekprobe hung on it: silent for %1 s, ended").arg(options.childTimeoutSeconds)
                                       : crashed ? QStringLiteral("seekprobe failed on it: %1").arg(p->errorString())
                                                 : why;
                    err << "seekprobe: " << (crashed ? clips.at(i) + QStringLiteral(": ") : QString()) << results[i].error << Qt::endl;
                }
                code = ProbeReport::worse(code, crashed ? int(SeekProbe::CannotRun) : exitCode);
                --active;
                ++done;
                err << "seekprobe: clip " << done << " of " << clips.size() << " done: " << QFileInfo(clips.at(i)).fileName()
                    << Qt::endl;
                startMore();
                if (done == clips.size())
                    loop.quit();
            };
            QObject::connect(p, &QProcess::finished, &loop, [complete](int exitCode, QProcess::ExitStatus status) {
                complete(exitCode, status != QProcess::NormalExit);
            });
            // A child that cannot even start never finishes.
            QObject::connect(p, &QProcess::errorOccurred, &loop, [complete](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    complete(-1, true);
            });
            p->start(QCoreApplication::applicationFilePath(), QStringList{clips.at(i)} + common);
            running[i] = std::move(process);
        }
    };
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
        for (int i = 0; i < clips.size(); ++i)
            if (running[i] && running[i]->state() != QProcess::NotRunning && heard[i].elapsed() > silentMs) {
                hung[i] = true;
                running[i]->kill();
            }
    });
    watchdog.start(1000);
    startMore();
    if (!clips.isEmpty())
        loop.exec();
    return results;
}
