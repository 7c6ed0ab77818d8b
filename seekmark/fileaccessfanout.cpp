#include "fileaccessfanout.h"

FileAccessFanout::FileAccessFanout(std::initializer_list<IFileAccess *> listeners)
    : m_Listeners(listeners)
{
}

void FileAccessFanout::readBlock(qint64 offset, qint64 size)
{
    for (IFileAccess *listener : m_Listeners)
        if (listener)
            listener->readBlock(offset, size);
}

void FileAccessFanout::fileOpened(qint64 size)
{
    for (IFileAccess *listener : m_Listeners)
        if (listener)
            listener->fileOpened(size);
}

void FileAccessFanout::readFailed(qint64 offset, qint64 size, qint64 got)
{
    for (IFileAccess *listener : m_Listeners)
        if (listener)
            listener->readFailed(offset, size, got);
}
