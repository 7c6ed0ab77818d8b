#pragma once

// Catches Qt's debug and warning lines, from any thread, for the life of the object instead of
// printing them. One at a time (the handler is process-wide); the lines are under s_Mutex.
#include <QMutex>
#include <QString>
#include <QStringList>

#include <utility>

namespace testsupport {

class MessageLog {
public:
    // Lines containing any of skip are dropped: the players' per-tick and per-read lines would
    // otherwise pile up by the thousand.
    explicit MessageLog(QStringList skip = {QStringLiteral("FPS DELAY"), QStringLiteral("READ BLOCK")})
    {
        clear();
        QMutexLocker lock(&s_Mutex);
        s_Skip = std::move(skip);
        s_Previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            QMutexLocker lock(&s_Mutex);
            for (const QString &s : std::as_const(s_Skip))
                if (text.contains(s))
                    return;
            s_Lines << (type >= QtWarningMsg ? QStringLiteral("WARNING: ") : QString()) + text;
        });
    }
    ~MessageLog()
    {
        qInstallMessageHandler(s_Previous);
        clear();
    }
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    // Warnings and worse start with "WARNING: ".
    QStringList lines() const
    {
        QMutexLocker lock(&s_Mutex);
        return s_Lines;
    }
    bool contains(const QString &text) const { return !lines().filter(text).isEmpty(); }
    void clear()
    {
        QMutexLocker lock(&s_Mutex);
        s_Lines.clear();
    }

private:
    static inline QMutex s_Mutex;
    static inline QStringList s_Lines;
    static inline QStringList s_Skip;
    static inline QtMessageHandler s_Previous = nullptr;
};

} // namespace testsupport
