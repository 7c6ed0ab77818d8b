#include "filevideodriver.h"

#include "ifileaccess.h"

#include "log/logcategory.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

LogCategory s_Log("access");

// The file object behind a handle, with the largest size the source has been seen to have: a
// read that ends short of it means the file was cut short under the reader, which the end of a
// file that merely ends there does not.
class SourceFile : public QFile {
public:
    using QFile::QFile;
    std::atomic<qint64> knownSize{0};
    // Where the last read ended; the storage model counts a read starting elsewhere as a seek.
    std::atomic<qint64> lastEnd{StorageProfile::NoPreviousRead};
};

SourceFile *sourceOf(QFile *file)
{
    // Every handle comes from open(), which makes a SourceFile.
    return static_cast<SourceFile *>(file);
}

} // namespace

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
    auto *file = new SourceFile(QString::fromUtf8(name));
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        return 0;
    }
    file->knownSize.store(file->size());
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

    SourceFile *source = sourceOf(file);
    const qint64 known = source->knownSize.load();
    // Only the bytes the file holds there would cross the wire: a request for a whole buffer at
    // the end of the file costs no more than the bytes left.
    const qint64 transferred = std::clamp<qint64>(known - offset, 0, std::max<qint64>(size, 0));
    const qint64 delay = StorageProfile(m_Storage.load())
                             .delayUs(offset, transferred, source->lastEnd.load());
    if (delay > 0) {
        m_StorageWaitUs.fetch_add(delay);
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
    }

    const qint64 got = file->read(buffer, size);
    source->lastEnd.store(offset + std::max<qint64>(got, 0));
    if (got < 0 || (got < size && offset + got < known)) {
        // Playback ends here as at the end of the input; the user has to learn that the file
        // itself changed (a download or capture cut short, a file deleted and truncated).
        const QString text = got < 0
            ? QStringLiteral("read failed at offset %1 (%2 bytes asked for): %3")
                  .arg(offset).arg(size).arg(file->errorString())
            : QStringLiteral("short read at offset %1: %2 of %3 bytes, the file was %4 bytes and is now %5")
                  .arg(offset).arg(got).arg(size).arg(known).arg(file->size());
        s_Log.log(LOG_WARN, text, "./filevideodriver", __LINE__);
        if (m_Listener)
            m_Listener->readFailed(offset, size, got);
    } else if (got > 0) {
        source->knownSize.store(std::max(known, offset + got));
    }
    return got;
}

qint64 FileVideoDriver::size(qint64 handle)
{
    QFile *file = fileOf(handle);
    if (!file)
        return 0;
    const qint64 bytes = file->size();
    SourceFile *source = sourceOf(file);
    source->knownSize.store(std::max(source->knownSize.load(), bytes));
    return bytes;
}

qint64 FileVideoDriver::pendingSize(qint64 /*handle*/)
{
    return 0;
}

void FileVideoDriver::setStorageProfile(StorageProfile profile)
{
    m_Storage.store(profile.kind());
}

StorageProfile FileVideoDriver::storageProfile() const
{
    return StorageProfile(m_Storage.load());
}

qint64 FileVideoDriver::storageWaitUs() const
{
    return m_StorageWaitUs.load();
}
