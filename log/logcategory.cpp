#include "logcategory.h"

#include "terminalrule.h"

#include <QDebug>
#include <QMutex>
#include <QTime>

namespace {

// One lock for every channel: lines of different threads and channels never interleave.
QMutex &logMutex()
{
    static QMutex mutex;
    return mutex;
}

QByteArray timeOfDay()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")).toLatin1();
}

} // namespace

LogCategory::LogCategory(const char *name)
    : m_Name(QString::fromUtf8(name ? name : "").toLower())
{
}

const char *LogCategory::levelName(int level)
{
    switch (level) {
    case LOG_NONE: return "NONE";
    case LOG_DEBUG: return "DEBUG";
    case LOG_INFO: return "INFO";
    case LOG_WARN: return "WARN";
    case LOG_ERROR: return "ERROR";
    case LOG_FATAL: return "FATAL";
    default: return "[UNKOWN]";
    }
}

void LogCategory::log(int level, const char *text, const char *file, int line)
{
    log(level, QString::fromUtf8(text ? text : ""), file, line);
}

void LogCategory::log(int level, const QString &text, const char *file, int line)
{
    QMutexLocker lock(&logMutex());

    // The threshold is fixed on first use, before the triggering message is filtered, and the
    // channel announces it once.
    if (!m_Initialised) {
        m_Level = LOG_WARN;
        qDebug() << "[INFO]" << timeOfDay().constData() << "-" << m_Name << " - Created at level "
                 << levelName(m_Level);
        m_Initialised = true;
    }

    if (level < m_Level)
        return;

    // Warnings go to Qt's warning output, which reaches the terminal, unless they are normal
    // operation: then, as they are, to the debug output.
    QDebug out = level >= LOG_WARN && TerminalRule::reachesTerminal(TerminalRule::Origin::Channel, level, text)
                     ? qWarning()
                     : qDebug();
    out << "[" << levelName(level) << "]" << timeOfDay().constData() << "-" << m_Name << "-" << text;
    if (file && line != -1)
        out << " at" << file << "line " << line;
}
