// Entry point of seekprobe: seeks through one clip with no window and no sound and prints a row
// per seek (see SeekProbe). The only one of the programs that reads its command line.
#include "seekprobe/seekprobe.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv)
{
    // The engine opens a sound device for a clip with sound even when it decodes none; the probe
    // plays nothing and must run where there is no device.
    qputenv("SDL_AUDIODRIVER", "dummy");
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const SeekProbe::Arguments parsed = SeekProbe::parseArguments(arguments);
    if (!parsed.ok) {
        err << "seekprobe: " << parsed.error << Qt::endl << SeekProbe::usage();
        err.flush();
        return SeekProbe::BadArguments;
    }
    if (parsed.help) {
        out << SeekProbe::usage();
        out.flush();
        return SeekProbe::Success;
    }
    int code = SeekProbe::CannotRun;
    {
        SeekProbe probe(parsed.options);
        code = probe.run(out, err);
    }
    out.flush();
    err.flush();
    return code;
}
