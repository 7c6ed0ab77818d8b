#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;
class QWindow;

// Puts a second top-level window (seekmark's "File access") beside the main one instead of on top
// of it. Without a window manager every window opens at the screen's corner, so the two would
// cover each other; a window manager's own placement does not promise better. The second window
// goes right of the main one when it fits on the screen, else below it, left of it, above it, and
// as a last resort at the screen's bottom-right corner.
//
// The main window's frame (its title bar and borders, when a window manager draws them) is known
// only once the window is on screen, so the placement waits for its first exposure. GUI thread.
class WindowPlacement {
public:
    static constexpr int kGap = 8;   // pixels between the two frames

    // Top-left corner for the other window's frame.
    static QPoint beside(const QRect &mainFrame, const QSize &otherFrame, const QRect &screen);

    // Moves `other` beside `main` as soon as `main` is exposed (at once when it already is).
    static void placeBesideWhenShown(QWindow *main, QWidget *other);

    // The window of a player, whichever kind its base class is.
    static QWindow *windowOf(QWindow *window) { return window; }
    static QWindow *windowOf(QWidget *widget);
};
