#pragma once

#include "access/ifileaccess.h"
#include "access/storageprofile.h"
#include "seekmark/fileaccessbook.h"

#include <QWidget>

#include <atomic>

class QPainter;

// The "File access" window: where the decoder's latest read lies in the file (a white bar), the
// mean distance of the last reads in KiB, a line of counts (data offset in KiB, blocks read while
// opening, blocks in the last interval and the most so far, playback time, last seek request) and
// a chart of distinct blocks read per 5-second interval, one pixel per interval. Once a read has
// failed or come back short (the file was cut short while playing) a red line at the bottom says
// how often and where. On the right of the average, in cyan, the storage the file driver makes the
// file seem to lie on ("STORAGE: local disk (no added delay)" until the player changes it).
//
// It is the file driver's listener. readBlock() may come from the decoder thread, so all recorded
// state lives in a FileAccessBook (which has its own lock) and repaints are requested through a
// queued call that runs on the GUI thread; at most one such call is pending at a time. Timer,
// painting and the player's setters run on the GUI thread. The owner must stop every reader (the
// decoder) before destroying the view.
class FileAccessView : public QWidget, public IFileAccess {
    Q_OBJECT
public:
    static constexpr int IntervalMs = 5000;

    FileAccessView(int width, int height, QWidget *parent = nullptr);
    ~FileAccessView() override;

    void fileOpened(qint64 size) override;
    void readBlock(qint64 offset, qint64 size) override;
    void readFailed(qint64 offset, qint64 size, qint64 got) override;

    void setDataOffset(qint64 offset);
    void setOpened();
    void setTime(qint64 seconds);
    void setRequestTime(qint64 seconds);
    void clearDistances();
    // The storage profile the driver reads under, shown until the next change.
    void setStorageProfile(const StorageProfile &profile);

    // Closes the current interval (the 5-second timer calls it).
    void tick();

    const FileAccessBook &book() const { return m_Book; }

    // Draws a snapshot into any painter over an area of size; the painter's pen as it comes is
    // the one the average text uses. Restores the painter's state.
    static void paintSnapshot(QPainter &painter, const FileAccessBook::Snapshot &state,
                              const QSize &size);

protected:
    void timerEvent(QTimerEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void requestRepaint();

    FileAccessBook m_Book;
    int m_TimerId = 0;
    std::atomic<bool> m_RepaintPending{false};
};
