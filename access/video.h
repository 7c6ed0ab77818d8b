#pragma once

#include "engine/bytesource.h"

#include <QObject>
#include <QString>

class PixelPacket;
class VideoDriver;
class VideoEngine;

// An open clip as the player sees it. The base owns the data-source side: it resolves the clip's
// URL (scheme, colon, rest) to a driver of the engine, opens the source in the constructor, closes
// it in the destructor, and serves the source's bytes to the decoder as its ByteSource. The
// playback side (pictures, time, volume, seeking) is left to a subclass.
//
// Threads: constructed, destroyed and driven on the GUI thread. read() and sourceSize() run on the
// thread that calls into libavformat (the GUI thread while the decoder opens, the decoder thread
// while it plays), and noInputData/dataFailure are emitted there. m_Driver, m_Handle and m_Name are
// set in the constructor and only read afterwards (the handle is cleared in the destructor, after
// the decoder is gone), so they need no lock. m_Opened is written by the GUI thread only.
class Video : public QObject, public ByteSource {
    Q_OBJECT
public:
    Video(VideoEngine *engine, const QString &url, QObject *parent = nullptr);
    ~Video() override;

    virtual bool open() = 0;
    virtual int width() = 0;
    virtual int height() = 0;
    // The picture due now, or null when none is.
    virtual PixelPacket *nextPicture() = 0;
    // Tell the driver that playback of the source started / paused.
    virtual void play();
    virtual void pause();
    virtual void setVolume(int volume) = 0;
    // 0 to 100.
    virtual int volume() = 0;
    virtual qint64 positionMs() = 0;
    // Whole seconds.
    virtual qint64 position() = 0;
    virtual void seek(int seconds) = 0;
    virtual qint64 durationMs() = 0;
    virtual qint64 duration() = 0;
    // The driver's state of the source; 1 when there is no source.
    virtual qint64 sourceState();
    // Display aspect ratio; 0 = use the picture's own width/height.
    virtual float aspectRatio();
    // Frames per second.
    virtual double frameRate();
    // Reads through the driver. A range the driver says is not available yet is reported by
    // noInputData and dataFailure and then read all the same. 0 when there is no source.
    qint64 read(char *buffer, qint64 offset, qint64 size) override;

    // The driver's size of the source; 0 when there is no source.
    qint64 sourceSize() override;

    VideoDriver *driver() const { return m_Driver; }
    qint64 handle() const { return m_Handle; }
    bool isOpened() const { return m_Opened; }
    // The name the driver was asked to open.
    QString name() const { return m_Name; }

signals:
    void videoEnd();
    void seekDone();
    void noInputData(QString fileName, int offset, int preferredSize, int readSize);
    void dataFailure(qint64 id, int offset, int preferredSize, int readSize);

protected:
    VideoDriver *m_Driver = nullptr;   // not owned; null when the engine has none for the scheme
    qint64 m_Handle = 0;               // the driver's handle of the open source; 0 = none
    bool m_Opened = false;             // source opened; a subclass overwrites it with its decoder's open
    QString m_Name;                    // URL after the scheme and the colon (see the constructor)
};
