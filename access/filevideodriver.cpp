#include "filevideodriver.h"

#include "ifileaccess.h"

#include <QFile>
#include <QString>

FileVideoDriver::FileVideoDriver(QObject *parent) : QObject(parent) {}

QFile *FileVideoDriver::fileOf(qint64 handle)
{
    return reinterpret_cast<QFile *>(static_cast<quintptr>(handle));
}

qint64 FileVideoDriver::open(const char *name)
{
    if (!name)
        return 0;
    // UTF-8 both ways (Video encodes the same way), so no file name is narrowed on its way here.
    auto *file = new QFile(QString::fromUtf8(name));
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        return 0;
    }
    if (m_Listener)
        m_Listener->fileOpened(file->size());
    return static_cast<qint64>(reinterpret_cast<quintptr>(file));
}

void FileVideoDriver::close(qint64 handle)
{
    QFile *file = fileOf(handle);
    if (!file)
        return;
    file->close();
    delete file;
}

void FileVideoDriver::paused(qint64 /*handle*/) {}

void FileVideoDriver::started(qint64 /*handle*/) {}

bool FileVideoDriver::isAvailable(qint64 handle, qint64 /*offset*/, qint64 /*size*/)
{
    return handle != 0;
}

qint64 FileVideoDriver::read(qint64 handle, char *buffer, qint64 offset, qint64 size)
{
    QFile *file = fileOf(handle);
    if (!file)
        return -1;
    // A failed seek (a negative offset: the ffdisk protocol passes absolute seeks on unchecked)
    // would leave the file where the last read ended, and reading there would hand out bytes from
    // the wrong place as if they were the ones asked for.
    if (!file->seek(offset))
        return -1;
    if (m_Listener)
        m_Listener->readBlock(offset, size);
    return file->read(buffer, size);
}

qint64 FileVideoDriver::size(qint64 handle)
{
    QFile *file = fileOf(handle);
    return file ? file->size() : 0;
}

qint64 FileVideoDriver::pendingSize(qint64 /*handle*/)
{
    return 0;
}
