#pragma once

#include "access/ifileaccess.h"

#include <initializer_list>
#include <vector>

// Hands every report of the file driver to several listeners in turn (the access view and the
// per-seek read counter), since a driver has room for one. The listeners are fixed at
// construction and not owned; each must outlive every reader.
//
// Threads: the calls arrive on whichever thread reads and go on to each listener on that thread.
// m_Listeners never changes after construction, so it needs no lock; each listener guards itself.
class FileAccessFanout : public IFileAccess {
public:
    explicit FileAccessFanout(std::initializer_list<IFileAccess *> listeners);

    void readBlock(qint64 offset, qint64 size) override;
    void fileOpened(qint64 size) override;
    void readFailed(qint64 offset, qint64 size, qint64 got) override;

private:
    const std::vector<IFileAccess *> m_Listeners;
};
