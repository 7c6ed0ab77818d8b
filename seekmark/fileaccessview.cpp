#include "fileaccessview.h"

#include <QDebug>
#include <QPainter>
#include <QPen>
#include <QTimerEvent>

#include <algorithm>

FileAccessView::FileAccessView(int width, int height, QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("File access"));
    resize(width, height);
    m_Book.setStorage(StorageProfile().label());
    m_TimerId = startTimer(IntervalMs);
}

FileAccessView::~FileAccessView() = default;

void FileAccessView::fileOpened(qint64 size)
{
    m_Book.fileOpened(size);
    requestRepaint();
}

void FileAccessView::readBlock(qint64 offset, qint64 /*size*/)
{
    const qint64 number = m_Book.readBlock(offset);
    qDebug() << "FileAccessView::READ BLOCK" << number << "OFFSET" << offset;
    requestRepaint();
}

void FileAccessView::readFailed(qint64 offset, qint64 size, qint64 got)
{
    m_Book.readFailed(offset, size, got);
    qDebug() << "FileAccessView::READ FAILED" << offset << size << got;
    requestRepaint();
}

void FileAccessView::setDataOffset(qint64 offset)
{
    m_Book.setDataOffset(offset);
    requestRepaint();
}

void FileAccessView::setOpened()
{
    m_Book.setOpened();
}

void FileAccessView::setTime(qint64 seconds)
{
    m_Book.setTime(seconds);
    requestRepaint();
}

void FileAccessView::setRequestTime(qint64 seconds)
{
    m_Book.setRequestTime(seconds);
    requestRepaint();
}

void FileAccessView::clearDistances()
{
    m_Book.clearDistances();
}

void FileAccessView::setStorageProfile(const StorageProfile &profile)
{
    m_Book.setStorage(profile.label());
    requestRepaint();
}

void FileAccessView::tick()
{
    const int blocks = m_Book.tick();
    qDebug() << "Blocks" << blocks;
}

void FileAccessView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_TimerId)
        tick();
    else
        QWidget::timerEvent(event);
}

void FileAccessView::requestRepaint()
{
    // Qt takes repaint requests on the GUI thread only, and a busy decoder reads many times per
    // frame: post one call, and no other until it has run.
    if (m_RepaintPending.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_RepaintPending.store(false);
            update();
        },
        Qt::QueuedConnection);
}

void FileAccessView::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    paintSnapshot(painter, m_Book.snapshot(), size());
}

void FileAccessView::paintSnapshot(QPainter &painter, const FileAccessBook::Snapshot &state,
                                   const QSize &size)
{
    const int w = size.width();
    const int h = size.height();
    painter.save();
    painter.fillRect(0, 0, w, h, QColor(153, 153, 153));
    if (state.fileSize <= 0) {
        painter.restore();
        return;
    }

    // Right-aligned on the average's line, and drawn before the bar so the bar stays whole where
    // they meet.
    const QString storage = state.storageText();
    if (!storage.isEmpty()) {
        const int left = std::max(90, w - 10 - painter.fontMetrics().horizontalAdvance(storage));
        // The average text below takes the pen as it came.
        const QPen pen = painter.pen();
        painter.setPen(QColor(0, 255, 255));
        painter.drawText(left, 30, storage);
        painter.setPen(pen);
    }

    const int x = static_cast<int>(static_cast<double>(state.currentOffset) / state.fileSize * w
                                   + 0.5);
    painter.fillRect(QRect(QPoint(x, 0), QPoint(x + 1, h - 1)), QColor(255, 255, 255));

    painter.drawText(10, 30, state.averageText());

    painter.setPen(QColor(255, 255, 0));
    painter.drawText(10, 10, state.statusLine());

    const QString failure = state.failureText();
    if (!failure.isEmpty()) {
        painter.setPen(QColor(255, 0, 0));
        painter.drawText(10, h - 3, failure);
    }

    // Entries beyond the right edge would draw nothing; the history grows for the window's life.
    painter.setPen(QColor(2, 0, 250));
    const qsizetype last = std::min<qsizetype>(state.history.size() - 1, w + 1);
    for (qsizetype i = 1; i <= last; ++i) {
        painter.drawLine(static_cast<int>(i - 1), h - state.history[i - 1], static_cast<int>(i),
                         h - state.history[i]);
    }
    painter.restore();
}
