#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

class QFileDialog;

// The open dialog both players ask for clips in. The program's own filter comes first, so the
// dialog opens on it; "All video files" then lets a person pick any clip the decoder reads (an
// MPEG-TS capture, a MOV) without typing its name, and "All files" anything at all. The dialog
// starts in the folder of the last clip opened, remembered between runs and shared by both
// programs; the first time, or when that folder has gone, in the program's own start folder.
//
// The dialog has no parent: a player window may be a plain QWindow, which cannot parent one.
// GUI thread only.
class ClipDialog {
public:
    // The remembered folder lives here (the user's settings of "seekmark"); tests pass their own.
    static std::unique_ptr<QSettings> programSettings();

    static QStringList nameFilters(const QString &ownFilter);
    static QString startFolder(const QSettings &settings, const QString &firstFolder);
    static void rememberClip(QSettings &settings, const QString &clip);
    static void rememberClip(const QString &clip) { rememberClip(*programSettings(), clip); }

    // The dialog as ask() shows it.
    static std::unique_ptr<QFileDialog> create(const QString &caption, const QString &ownFilter,
                                               const QString &firstFolder, const QSettings &settings);

    // Shows the modal dialog and gives the chosen path, empty when cancelled. A choice is
    // remembered.
    static QString ask(const QString &caption, const QString &ownFilter, const QString &firstFolder);
};
