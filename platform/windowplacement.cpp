#include "windowplacement.h"

#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace {

// Waits on the main window for its first exposure, places the other window and goes.
class PlaceOnExpose : public QObject {
public:
    PlaceOnExpose(QWindow *main, QWidget *other) : QObject(main), m_Main(main), m_Other(other) {}

    void place()
    {
        if (m_Other && m_Main->screen()) {
            const QRect frame = m_Other->frameGeometry();
            m_Other->move(WindowPlacement::beside(m_Main->frameGeometry(), frame.size(),
                                                  m_Main->screen()->availableGeometry()));
        }
        deleteLater();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_Main && event->type() == QEvent::Expose && m_Main->isExposed() && !m_Placed) {
            m_Placed = true;
            place();
        }
        return false;
    }

private:
    QWindow *m_Main;
    QPointer<QWidget> m_Other;
    bool m_Placed = false;
};

} // namespace

QPoint WindowPlacement::beside(const QRect &mainFrame, const QSize &otherFrame, const QRect &screen)
{
    const int w = otherFrame.width();
    const int h = otherFrame.height();
    const QPoint candidates[] = {
        {mainFrame.right() + 1 + kGap, mainFrame.top()},    // right
        {mainFrame.left(), mainFrame.bottom() + 1 + kGap},  // below
        {mainFrame.left() - kGap - w, mainFrame.top()},     // left
        {mainFrame.left(), mainFrame.top() - kGap - h},     // above
    };
    for (const QPoint &at : candidates)
        if (screen.contains(QRect(at, otherFrame)))
            return at;
    return {screen.right() + 1 - w, screen.bottom() + 1 - h};
}

QWindow *WindowPlacement::windowOf(QWidget *widget)
{
    return widget ? widget->windowHandle() : nullptr;
}

void WindowPlacement::placeBesideWhenShown(QWindow *main, QWidget *other)
{
    if (!main || !other)
        return;
    auto *placer = new PlaceOnExpose(main, other);
    if (main->isExposed())
        placer->place();
    else
        main->installEventFilter(placer);
}
