#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class VideoDriver;

// Registry of data-source drivers by URL scheme ("file" in file://C:/a.mp4). Schemes compare
// case-sensitively. The engine does not own the drivers: whoever registers one keeps it alive for
// as long as videos may use it.
//
// Threads: GUI thread only. Drivers are registered before any Video is made; no lock.
class VideoEngine : public QObject {
    Q_OBJECT
public:
    explicit VideoEngine(QObject *parent = nullptr);

    // Inserts the driver, replacing (not deleting) one already registered under the scheme.
    void registerDriver(const QString &scheme, VideoDriver *driver);
    bool hasDriver(const QString &scheme) const;
    // Null when no driver is registered under the scheme.
    VideoDriver *driver(const QString &scheme) const;

private:
    QHash<QString, VideoDriver *> m_Drivers;
};
